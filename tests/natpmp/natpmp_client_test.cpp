#include "FakeNatPmp.h"
#include "NatPmpClient.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>
#include <tuple>

using namespace std::chrono_literals;
using namespace std::string_literals;

namespace {

const std::string kAddress = "\xc6\x33\x64\x07"s;              // 198.51.100.7
const std::string kPort4660 = "\x12\x34\x12\x34\0\0\x0e\x10"s; // 4660 to 4660 for an hour

// An answer datagram: version, opcode, result code, epoch 1, then the fields of its opcode.
std::string answer(int version, int opcode, int result, const std::string& fields) {
    return std::string{char(version), char(opcode), 0, char(result), 0, 0, 0, 1} + fields;
}

// A client of the fake alone, logging its turns.
struct Client : NatPmpClient {
    std::vector<std::string> turns;
    std::string address;
    NatPmpMapping granted;
    explicit Client(const FakeNatPmp& gateway, int first_retry_ms = 250, int transmissions = 3)
        : NatPmpClient(NatPmpTimings{first_retry_ms, transmissions}) {
        log = [this](const std::string& line) { turns.push_back(line); };
        force_gateway(gateway.address);
        EXPECT_EQ(open(), 0);
    }
    // The public address, or UDP 4660 to 4660 for an hour.
    int request(bool mapping) {
        return mapping ? map(NATPMP_PROTOCOL_UDP, 4660, 4660, 3600, granted)
                       : public_address(address);
    }
};

std::tuple<int, int, int, uint32_t> fields(const NatPmpMapping& m) {
    return {m.protocol, m.private_port, m.public_port, m.lifetime};
}

// The fake records from a thread of its own: the last datagram may still be on its way to it.
std::size_t transmissions(const FakeNatPmp& gateway, std::size_t expected) {
    for (int i = 0; i < 400 && gateway.requests().size() < expected; ++i)
        std::this_thread::sleep_for(5ms);
    return gateway.requests().size();
}

TEST(NatPmpClient, ReadsThePublicAddressOfItsOwnGateway) {
    FakeNatPmp gateway, other;
    Client client(gateway), beside(other);
    EXPECT_TRUE(client.is_open());
    EXPECT_EQ(client.gateway(), gateway.address);
    EXPECT_EQ(client.request(false), 0);
    EXPECT_EQ(client.address, "198.51.100.7");
    EXPECT_EQ(gateway.requests(), std::vector<std::string>{"\0\0"s});
    EXPECT_TRUE(other.requests().empty());
    EXPECT_EQ(client.turns,
              (std::vector<std::string>{"sended public ip address request", "geted timeout func"}));
    client.close();
    EXPECT_EQ(client.gateway(), "");
    EXPECT_EQ(client.request(false), NATPMP_ERR_INVALIDARGS);
}

TEST(NatPmpClient, CancelEndsTheWaitAtOnceUntilResumed) {
    FakeNatPmp gateway(NatPmpScript{0});
    Client client(gateway);
    std::thread canceller([&client] {
        std::this_thread::sleep_for(20ms);
        client.cancel();
    });
    EXPECT_EQ(client.request(false), NATPMP_ERR_NOGATEWAYSUPPORT);
    canceller.join();
    EXPECT_EQ(transmissions(gateway, 1), 1u); // ended before the retransmission due at 250 ms
    EXPECT_EQ(client.request(false), NATPMP_ERR_NOGATEWAYSUPPORT);
    client.resume();
    FakeNatPmp answering;
    Client again(answering);
    again.cancel();
    again.resume();
    EXPECT_EQ(again.request(false), 0);
}

TEST(NatPmpClient, SendsARequestAtMostThreeTimesAtDoublingIntervals) {
    const int none = NATPMP_ERR_NOGATEWAYSUPPORT;
    // The transmission answered, the result, the transmissions made.
    const std::tuple<int, int, unsigned> cases[] = {
        {0, none, 3}, {2, 0, 2}, {3, 0, 3}, {4, none, 3}};
    for (auto [nth, result, sent] : cases) {
        FakeNatPmp gateway(NatPmpScript{nth});
        Client client(gateway, 20);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(client.request(true), result) << nth;
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(result == 0 || waited >= 140ms) << nth; // 20 + 40 + 80
        EXPECT_EQ(transmissions(gateway, sent), sent) << nth;
        EXPECT_GE(client.turns.size(), sent);
    }
}

TEST(NatPmpClient, IgnoresDatagramsThatDoNotAnswerTheRequest) {
    const std::tuple<const char*, bool, std::string> cases[] = {
        {"00 80", false, "\0\x80"s},
        {"11 bytes", false, answer(0, 128, 0, kAddress).substr(0, 11)},
        {"version 1", false, answer(1, 128, 0, kAddress)},
        {"mapping answer", false, answer(0, 129, 0, kPort4660)},
        {"15 bytes", true, answer(0, 129, 0, kPort4660).substr(0, 15)},
        {"TCP answer", true, answer(0, 130, 0, kPort4660)},
        {"address answer", true, answer(0, 128, 0, kAddress)},
        {"other private port", true, answer(0, 129, 0, "\x12\x35\x12\x34\0\0\x0e\x10"s)},
    };
    for (const auto& [what, mapping, datagram] : cases) {
        const std::string good = answer(0, 128 + mapping, 0, mapping ? kPort4660 : kAddress);
        FakeNatPmp bad_only({1, {datagram}}), bad_then_good({1, {datagram, good}});
        Client ignoring(bad_only, 10), waiting(bad_then_good, 10);
        EXPECT_EQ(ignoring.request(mapping), NATPMP_ERR_NOGATEWAYSUPPORT) << what;
        EXPECT_EQ(transmissions(bad_only, 3), 3u) << what;
        EXPECT_EQ(waiting.request(mapping), 0) << what;
        EXPECT_EQ(waiting.address, mapping ? "" : "198.51.100.7");
        EXPECT_EQ(fields(waiting.granted), mapping ? fields({1, 4660, 4660, 3600}) : fields({}));
    }
}

TEST(NatPmpClient, GivesTheGatewaysRefusalAsTheLibrarysError) {
    const std::pair<int, int> cases[] = {
        {1, NATPMP_ERR_UNSUPPORTEDVERSION}, {2, NATPMP_ERR_NOTAUTHORIZED},
        {3, NATPMP_ERR_NETWORKFAILURE},     {4, NATPMP_ERR_OUTOFRESOURCES},
        {5, NATPMP_ERR_UNSUPPORTEDOPCODE},  {77, NATPMP_ERR_UNDEFINEDERROR}};
    for (const auto& [code, error] : cases) {
        for (bool mapping : {false, true}) {
            FakeNatPmp fake({1, {answer(0, 128 + mapping, code, mapping ? kPort4660 : kAddress)}});
            Client client(fake);
            EXPECT_EQ(client.request(mapping), error) << code;
            EXPECT_EQ(fake.requests().size(), 1u);
        }
    }
}

TEST(NatPmpClient, MapsAndUnmapsWithTheirFieldsInNetworkOrder) {
    FakeNatPmp gateway(NatPmpScript{1, {}, 40000, 1800}); // grants public port 40000, 30 min
    Client client(gateway);
    NatPmpMapping granted;
    EXPECT_EQ(client.map(NATPMP_PROTOCOL_UDP, 4660, 5678, 3600, granted), 0);
    EXPECT_EQ(fields(granted), fields({NATPMP_PROTOCOL_UDP, 4660, 40000, 1800}));
    EXPECT_EQ(client.map(NATPMP_PROTOCOL_TCP, 4660, 40000, 7200, granted), 0);
    EXPECT_EQ(fields(granted), fields({NATPMP_PROTOCOL_TCP, 4660, 40000, 1800}));
    EXPECT_EQ(client.unmap(NATPMP_PROTOCOL_TCP, 4660), 0);
    EXPECT_EQ(client.map(3, 4660, 4660, 60, granted), NATPMP_ERR_INVALIDARGS);
    EXPECT_EQ(gateway.requests(),
              (std::vector<std::string>{"\0\x01\0\0\x12\x34\x16\x2e\0\0\x0e\x10"s,
                                        "\0\x02\0\0\x12\x34\x9c\x40\0\0\x1c\x20"s,
                                        "\0\x02\0\0\x12\x34\0\0\0\0\0\0"s}));
}

TEST(NatPmpClient, DropsAnAnswerLeftOverFromAnEarlierRequest) {
    FakeNatPmp gateway(NatPmpScript{1, {}, 0, 0, 50}); // answers 50 ms late
    Client client(gateway, 10, 1);
    EXPECT_EQ(client.request(true), NATPMP_ERR_NOGATEWAYSUPPORT);
    for (int i = 0; i < 400 && gateway.sent == 0; ++i)
        std::this_thread::sleep_for(5ms);
    ASSERT_EQ(gateway.sent, 1);
    // Asked again, the fake keeps silent: the queued answer would fit this request to the byte.
    EXPECT_EQ(client.request(true), NATPMP_ERR_NOGATEWAYSUPPORT);
    EXPECT_EQ(transmissions(gateway, 2), 2u);
}

} // namespace
