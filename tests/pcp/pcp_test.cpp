// The PCP client: its bytes against golden data, which answers it takes, the router's epoch, and
// its exchanges with a scripted server on loopback.
#include "FakePcp.h"
#include "PcpClient.h"
#include "PcpListener.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace pcp_wire;
using namespace std::chrono_literals;
using namespace std::string_literals;

namespace {

const Nonce kNonce = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

// A message of tests/data/pcp-wire.txt.
std::string golden(const std::string& name) {
    std::ifstream in(QUAYMAP_TEST_DATA "/pcp-wire.txt");
    std::string bytes, word;
    bool mine = false;
    for (std::string line; std::getline(in, line);)
        for (std::istringstream words(line.substr(0, line.find('#'))); words >> word;)
            if (word.back() == ':')
                mine = word == name + ":";
            else
                for (std::size_t i = 0; mine && i + 1 < word.size(); i += 2)
                    bytes += char(std::stoi(word.substr(i, 2), nullptr, 16));
    return bytes;
}

Address address(const std::string& text) {
    Address a{};
    EXPECT_TRUE(address_of(text, a)) << text;
    return a;
}

const MapRequest kTcp8080 = {kNonce, TCP, 8080, 0, "", 7200, ""};

Verdict read(const std::string& bytes, const Expected& expected, Answer& answer) {
    return read_answer(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), expected,
                       answer);
}

TEST(PcpWire, RequestsAreTheGoldenBytes) {
    const MapRequest other = {kNonce, TCP, 80, 8080, "11.87.0.2", 3600, "192.168.87.21"};
    EXPECT_EQ(announce_request(address("127.0.0.1")), golden("announce-v4"));
    EXPECT_EQ(map_request(address("127.0.0.1"), kTcp8080), golden("map-tcp-v4"));
    EXPECT_EQ(map_request(address("2001:db8:87::20"), {kNonce, UDP, 51820, 51820, "", 0, ""}),
              golden("map-udp-v6-delete"));
    EXPECT_EQ(map_request(address("192.168.87.20"), other), golden("map-third-party"));
    Nonce back{};
    EXPECT_TRUE(nonce_of_hex(nonce_hex(kNonce), back) && back == kNonce);
    EXPECT_FALSE(nonce_of_hex("0102030405060708090a0b0g", back));
    EXPECT_NE(random_nonce(), random_nonce());
}

TEST(PcpWire, AnAnswerCountsOnlyWholeAndEchoingTheRequest) {
    const std::string map = golden("map-answer"), natpmp = golden("natpmp-unsupported");
    const auto with = [](std::string bytes, std::size_t at, char value) {
        bytes[at] = value;
        return bytes;
    };
    const std::string option = "\x01\0\0\x10"s + std::string(10, '\0') + "\xff\xff\xc0\xa8\x57";
    const Expected asked{MAP, kNonce, TCP, 8080, false, {}},
        for_other{MAP, kNonce, TCP, 8080, true, address("192.168.87.21")};
    // What, the datagram, whether asked for another computer, the verdict, its result code.
    const std::tuple<const char*, std::string, bool, Verdict, int> cases[] = {
        {"whole", map, false, Verdict::taken, SUCCESS},
        {"refusal", with(map, 3, NO_RESOURCES), false, Verdict::taken, NO_RESOURCES},
        {"unknown option", map + "\x80\0\0\0"s, false, Verdict::taken, SUCCESS},
        {"third party", map + option + "\x15", true, Verdict::taken, SUCCESS},
        {"other third party", map + option + "\x16", true, Verdict::dropped, 0},
        {"third party unasked", map + option + "\x15", false, Verdict::dropped, 0},
        {"option past the end", map + "\x80\0\0\x08"s + "1234", false, Verdict::dropped, 0},
        {"59 bytes", map.substr(0, 59), false, Verdict::dropped, 0},
        {"56 bytes", map.substr(0, 56), false, Verdict::dropped, 0},
        {"62 bytes", map + "\0\0"s, false, Verdict::dropped, 0},
        {"1104 bytes", map + std::string(1044, '\0'), false, Verdict::dropped, 0},
        {"version 1", with(map, 0, 1), false, Verdict::dropped, 0},
        {"a request", with(map, 1, 1), false, Verdict::dropped, 0},
        {"ANNOUNCE", with(map, 1, '\x80'), false, Verdict::dropped, 0},
        {"other nonce", with(map, 35, 13), false, Verdict::dropped, 0},
        {"UDP", with(map, 36, UDP), false, Verdict::dropped, 0},
        {"other internal port", with(map, 41, '\x91'), false, Verdict::dropped, 0},
        {"NAT-PMP", natpmp, false, Verdict::unsupported_version, UNSUPP_VERSION},
        {"NAT-PMP granting", with(natpmp, 3, 0), false, Verdict::dropped, 0},
        {"NAT-PMP other opcode", with(natpmp, 1, '\x82'), false, Verdict::dropped, 0},
        {"7 bytes", natpmp.substr(0, 7), false, Verdict::dropped, 0},
    };
    for (const auto& [what, bytes, other, verdict, result] : cases) {
        Answer answer;
        EXPECT_EQ(read(bytes, other ? for_other : asked, answer), verdict) << what;
        EXPECT_EQ(std::make_pair(answer.result, answer.version),
                  std::make_pair(result, verdict == Verdict::taken ? 2 : 0))
            << what;
    }
}

TEST(PcpWire, TheEpochTellsARestart) {
    // The epoch before, the one now, the seconds between, whether the router kept running.
    const std::tuple<uint32_t, uint32_t, int, bool> cases[] = {
        {100, 100, 0, true},     {100, 99, 0, true},       {100, 98, 0, false},
        {100, 102, 0, true},     {100, 103, 0, false},     {100, 160, 60, true},
        {100, 1100, 1060, true}, {100, 1100, 1100, false}, {100, 10, 3600, false},
        {100, 150, 3600, false}, {100, 3700, 3600, true},
    };
    for (const auto& [before, now, seconds, kept] : cases) {
        Epoch epoch;
        const auto start = Epoch::Clock::now();
        EXPECT_TRUE(epoch.observe(before, start));
        EXPECT_EQ(epoch.observe(now, start + std::chrono::seconds(seconds)), kept)
            << before << " " << now << " " << seconds;
    }
    for (uint32_t lifetime : {0u, 1u, 7200u, 4000000000u}) // from a half to five eighths
        EXPECT_LE(renewal_delay(lifetime) - lifetime / 2, lifetime / 8) << lifetime;
    // A refusal for another computer, or of a delete, says so: the computer may map its own.
    for (const auto& [third_party, deleting] : {std::pair{true, false}, {false, true}})
        EXPECT_EQ(result_words(NOT_AUTHORIZED, third_party, deleting).find("may not"),
                  std::string::npos);
}

struct Client : PcpClient {
    explicit Client(const FakePcp& server, int first_retry_ms = 20)
        : PcpClient(PcpTimings{first_retry_ms, 1000, 3}) {
        EXPECT_EQ(open(server.address, "", server.port), SUCCESS);
    }
};

TEST(PcpClient, MapsAndAnnouncesOverEitherFamily) {
    FakePcp v4, v6(nullptr, "::1");
    Client client(v4), client6(v6);
    PcpMapping granted;
    EXPECT_EQ(client.announce(), SUCCESS);
    EXPECT_EQ(client.map(kTcp8080, granted), SUCCESS);
    EXPECT_EQ(v4.requests(), (std::vector{golden("announce-v4"), golden("map-tcp-v4")}));
    EXPECT_EQ(std::tie(granted.external_address, granted.external_port, granted.lifetime),
              std::make_tuple("198.51.100.7"s, uint16_t{8080}, 7200u));
    EXPECT_EQ(client.local_address(), "127.0.0.1");
    MapRequest udp = {kNonce, UDP, 51820, 40000, "", 0, ""};
    EXPECT_EQ(client6.map(udp, granted), SUCCESS);
    EXPECT_EQ(std::tie(granted.external_address, granted.external_port, granted.protocol),
              std::make_tuple("::1"s, uint16_t{40000}, uint8_t{UDP}));
    // The router restarted: its epoch went back, then leapt ahead of the time between.
    v4.epoch = 5;
    EXPECT_EQ(client.map(kTcp8080, granted), SUCCESS);
    EXPECT_EQ(client.restarts(), 1);
    v4.epoch = 100000;
    EXPECT_EQ(client.announce(), SUCCESS);
    EXPECT_EQ(std::make_pair(client.restarts(), client.epoch()), std::make_pair(2, 100000u));
    udp.third_party = "not an address";
    EXPECT_EQ(client.map(udp, granted), INVALID_ARGUMENTS);
    client.close();
    EXPECT_EQ(client.announce(), INVALID_ARGUMENTS);
}

TEST(PcpClient, RequestEndsAtItsAnswerARefusalTheThirdTransmissionOrCancel) {
    const std::string good = golden("map-answer");
    // What, the transmission answered (0: none), datagrams before the answer, result,
    // transmissions.
    const std::tuple<const char*, int, std::vector<std::string>, int, std::size_t> cases[] = {
        {"silent", 0, {}, NO_ANSWER, 3},
        {"third", 3, {}, SUCCESS, 3},
        {"strays", 1, {"other:" + good, good.substr(0, 56), golden("announce-answer")}, SUCCESS, 1},
        {"refused", 1, {good.substr(0, 3) + "\x08" + good.substr(4)}, NO_RESOURCES, 1},
        {"NAT-PMP", 1, {golden("natpmp-unsupported")}, UNSUPP_VERSION, 1},
    };
    for (const auto& [what, nth, before, result, sent] : cases) {
        FakePcp server([&, nth = nth, before = before](const std::string&, int number) {
            auto out = before;
            out.push_back(good);
            return number == nth ? out : std::vector<std::string>{};
        });
        Client client(server);
        PcpMapping granted;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(client.map(kTcp8080, granted), result) << what;
        // Three waits, each doubling the one before and drawn 10 % short at worst.
        EXPECT_TRUE(result != NO_ANSWER || std::chrono::steady_clock::now() - start >= 108ms);
        EXPECT_EQ(granted.external_port, result == SUCCESS ? 8080 : 0) << what;
        EXPECT_EQ(server.requests().size(), sent) << what;
    }
    // Cancelled, a request ends at once, not at its retransmission due after a second, and one
    // made while cancelled sends nothing.
    FakePcp silent([](const std::string&, int) { return std::vector<std::string>{}; });
    Client client(silent, 1000);
    std::thread canceller([&client] {
        std::this_thread::sleep_for(20ms);
        client.cancel();
    });
    EXPECT_EQ(client.announce(), NO_ANSWER);
    canceller.join();
    EXPECT_EQ(client.announce(), NO_ANSWER);
    EXPECT_EQ(silent.requests().size(), 1u);
    client.resume();
    client.open(silent.address, "", 9); // the discard port: nothing listens on loopback
    EXPECT_EQ(client.announce(), PORT_UNREACHABLE);
}

TEST(PcpListener, HearsOnlyTheRoutersAnnouncements) {
    const std::string announce = golden("announce-answer");
    FakePcp router([&](const std::string&, int) {
        return std::vector{"other:" + announce, golden("map-answer"), announce.substr(0, 20),
                           announce};
    });
    PcpListener listener;
    ASSERT_TRUE(listener.open(0));
    listener.expect({"127.0.0.1", "fe80::1%lo"}, router.port);
    // Sent from the listener's own port, a request makes the router answer there.
    sockaddr_in at{AF_INET, htons(router.port), {htonl(INADDR_LOOPBACK)}, {}};
    ::sendto(listener.fds().at(0), announce.data(), announce.size(), 0,
             reinterpret_cast<sockaddr*>(&at), sizeof at);
    PcpAnnouncement heard;
    for (int i = 0; i < 100 && !listener.take(heard); ++i)
        std::this_thread::sleep_for(2ms);
    EXPECT_EQ(std::make_pair(heard.from, heard.epoch), std::make_pair("127.0.0.1"s, 100u));
    EXPECT_FALSE(listener.take(heard));
}

} // namespace
