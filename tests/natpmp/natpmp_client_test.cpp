// The NAT-PMP client against a scripted gateway on loopback: what it sends, takes and waits for.
#include "FakeNatPmp.h"
#include "NatPmpClient.h"

#include <gtest/gtest.h>

using namespace std::chrono_literals;
using namespace std::string_literals;

namespace {

const std::string kAddress = "\xc6\x33\x64\x07"s;              // 198.51.100.7
const std::string kPort4660 = "\x12\x34\x12\x34\0\0\x0e\x10"s; // 4660 to 4660 for an hour

// An answer datagram: version, opcode, result code, epoch 1, then the fields of its opcode.
std::string answer(int version, int opcode, int result, const std::string& fields) {
    return std::string{char(version), char(opcode), 0, char(result), 0, 0, 0, 1} + fields;
}

struct Client : NatPmpClient {
    std::string got; // the address read, or the grant as "private public lifetime"
    explicit Client(const FakeNatPmp& gateway, int first_retry_ms = 250)
        : NatPmpClient(NatPmpTimings{first_retry_ms, 3}) {
        force_gateway(gateway.address);
        EXPECT_EQ(open(), 0);
    }
    // The public address, or 4660 to `port` for an hour.
    int request(bool mapping, uint16_t port = 4660, int protocol = NATPMP_PROTOCOL_UDP) {
        NatPmpMapping m;
        const int result = mapping ? map(protocol, 4660, port, 3600, m) : public_address(got);
        if (mapping && result == 0)
            got = std::to_string(m.private_port) + " " + std::to_string(m.public_port) + " " +
                  std::to_string(m.lifetime);
        return result;
    }
};

// The fake records from a thread of its own: the last datagram may still be on its way to it.
std::size_t transmissions(const FakeNatPmp& gateway, std::size_t expected) {
    for (int i = 0; i < 400 && gateway.requests().size() < expected; ++i)
        std::this_thread::sleep_for(5ms);
    return gateway.requests().size();
}

TEST(NatPmpClient, SendsEachRequestToItsGatewayAndTakesWhatIsGranted) {
    const std::string grant = "\x12\x34\x9c\x40\0\0\x07\x08"s; // 4660 to 40000 for 30 minutes
    FakeNatPmp gateway(0, {answer(0, 130, 0, grant), answer(0, 129, 0, grant)}), plain;
    Client client(gateway), asker(plain);
    EXPECT_EQ(asker.request(false), 0);
    EXPECT_EQ(asker.got, "198.51.100.7");
    EXPECT_EQ(client.request(true, 5678), 0);
    EXPECT_EQ(client.got, "4660 40000 1800");
    EXPECT_EQ(client.unmap(NATPMP_PROTOCOL_TCP, 4660), 0);
    EXPECT_EQ(client.request(true, 4660, 3), NATPMP_ERR_INVALIDARGS); // no such protocol
    EXPECT_EQ(plain.requests(), std::vector<std::string>{"\0\0"s});
    EXPECT_EQ(gateway.requests(),
              (std::vector<std::string>{"\0\x01\0\0\x12\x34\x16\x2e\0\0\x0e\x10"s,
                                        "\0\x02\0\0\x12\x34\0\0\0\0\0\0"s}));
    asker.close();
    EXPECT_EQ(asker.gateway(), "");
    EXPECT_EQ(asker.request(false), NATPMP_ERR_INVALIDARGS);
}

TEST(NatPmpClient, CancelEndsTheWaitAtOnceUntilResumed) {
    FakeNatPmp gateway(3); // answers the third request: the one after resume()
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
    EXPECT_EQ(client.request(false), 0);
}

TEST(NatPmpClient, RequestEndsAtItsWholeAnswerARefusalOrTheThirdTransmission) {
    // Datagrams that do not answer the request, if taken, would give other values than the answer
    // sent behind them. Without an answer the request goes out three times, at doubling intervals.
    const std::string other = "\x12\x34\x12\x34\0\0\x1c\x20"s; // 4660 to 4660 for two hours
    const int none = NATPMP_ERR_NOGATEWAYSUPPORT;
    // Whether a mapping, the transmission answered, the datagram before it, result, transmissions.
    const std::tuple<const char*, bool, int, std::string, int, unsigned> cases[] = {
        {"silent", true, -1, "", none, 3},
        {"third", true, 3, "", 0, 3},
        {"fourth", true, 4, "", none, 3},
        {"11 bytes", false, 1, answer(0, 128, 0, "\1\2\3\4").substr(0, 11), 0, 1},
        {"version 1", false, 1, answer(1, 128, 0, "\1\2\3\4"), 0, 1},
        {"mapping answer", false, 1, answer(0, 129, 0, kPort4660), 0, 1},
        {"15 bytes", true, 1, answer(0, 129, 0, other).substr(0, 15), 0, 1},
        {"TCP answer", true, 1, answer(0, 130, 0, other), 0, 1},
        {"address answer", true, 1, answer(0, 128, 0, kAddress), 0, 1},
        {"other private port", true, 1, answer(0, 129, 0, "\x12\x35\x12\x34\0\0\x0e\x10"s), 0, 1},
        {"1", false, 1, answer(0, 128, 1, kAddress), NATPMP_ERR_UNSUPPORTEDVERSION, 1},
        {"2", true, 1, answer(0, 129, 2, kPort4660), NATPMP_ERR_NOTAUTHORIZED, 1},
        {"3", false, 1, answer(0, 128, 3, kAddress), NATPMP_ERR_NETWORKFAILURE, 1},
        {"4", true, 1, answer(0, 129, 4, kPort4660), NATPMP_ERR_OUTOFRESOURCES, 1},
        {"5", false, 1, answer(0, 128, 5, kAddress), NATPMP_ERR_UNSUPPORTEDOPCODE, 1},
        {"77", true, 1, answer(0, 129, 77, kPort4660), NATPMP_ERR_UNDEFINEDERROR, 1},
    };
    for (const auto& [what, mapping, nth, datagram, result, sent] : cases) {
        const std::string good = answer(0, 128 + mapping, 0, mapping ? kPort4660 : kAddress);
        FakeNatPmp gateway(nth, datagram.empty() ? std::vector<std::string>{}
                                                 : std::vector{datagram, good});
        Client client(gateway, 50);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(client.request(mapping), result) << what;
        const auto waited = std::chrono::steady_clock::now() - start;
        EXPECT_TRUE(result != none || waited >= 350ms) << what; // 50 + 100 + 200
        EXPECT_EQ(client.got, result ? "" : mapping ? "4660 4660 3600" : "198.51.100.7") << what;
        EXPECT_EQ(transmissions(gateway, sent), sent) << what;
    }
}

TEST(NatPmpClient, DropsAnAnswerLeftOverFromAnEarlierRequest) {
    FakeNatPmp gateway(1); // answers the first request only
    Client client(gateway, 10);
    client.cancel(); // the first request goes out, but its answer is never read
    EXPECT_EQ(client.request(true), NATPMP_ERR_NOGATEWAYSUPPORT);
    client.resume();
    for (int i = 0; i < 400 && gateway.sent == 0; ++i)
        std::this_thread::sleep_for(5ms);
    // Asked again, the gateway keeps silent: the queued answer would fit this request to the byte.
    EXPECT_EQ(client.request(true), NATPMP_ERR_NOGATEWAYSUPPORT);
    EXPECT_EQ(transmissions(gateway, 4), 4u);
}

} // namespace

TEST(NatPmpClient, AnEpochThatGoesBackOrJumpsTellsARestart) {
    // Seconds on this computer's clock and the epoch heard then, one after the other; whether
    // each told a restart.
    const std::vector<std::pair<int, uint32_t>> heard = {{0, 500},    {60, 560},   {120, 618},
                                                         {600, 1100}, {601, 3},    {602, 4},
                                                         {700, 9000}, {700, 9001}, {701, 9000}};
    std::chrono::steady_clock::time_point now{};
    FakeNatPmp gateway;
    Client client(gateway);
    client.set_clock([&now] { return now; });
    std::string restarts, why;
    for (const auto& [seconds, epoch] : heard) {
        now = std::chrono::steady_clock::time_point{} + std::chrono::seconds(seconds);
        restarts += client.take_epoch(epoch) ? "R" : " ";
    }
    EXPECT_EQ(restarts, "    R R R");
    EXPECT_TRUE(client.restarted(why));
    EXPECT_EQ(why, "its epoch went from 9001 to 9000 in 1 s"); // the latest one
    EXPECT_FALSE(client.restarted(why));
    // Answers carry the epoch too: the fake always says 1, which a minute later is a restart.
    EXPECT_EQ(client.request(false), 0);
    now += 60s;
    EXPECT_EQ(client.request(true), 0);
    EXPECT_TRUE(client.restarted(why));
    // What a gateway announces as it starts: NAT-PMP's public address, PCP's ANNOUNCE.
    uint32_t epoch = 0;
    const std::pair<std::string, int64_t> announced[] = {
        {answer(0, 128, 0, kAddress), 1},
        {"\x02\x80\0\0\0\0\0\0\0\0\0\x07"s + std::string(12, '\0'), 7},
        {"\x02\x80\0\x01\0\0\0\0\0\0\0\x07"s + std::string(12, '\0'), -1}, // a refusal
        {answer(0, 129, 0, kPort4660), -1},
        {answer(0, 128, 0, ""), -1},
        {"\x02\x81\0\0\0\0\0\0\0\0\0\x07"s + std::string(48, '\0'), -1}, // a MAP answer
    };
    for (const auto& [datagram, expected] : announced)
        EXPECT_EQ(announced_epoch(datagram, epoch) ? int64_t(epoch) : -1, expected);
}
