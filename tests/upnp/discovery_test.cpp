// Finding the gateway: URLs, the search, the candidates, the description and its service.
#include "harness.h"
#include "wire/ssdp_notify.h"

#include <arpa/inet.h>
#include <chrono>
#include <unistd.h>

using namespace std::string_literals;

class Discovery : public Client {
  protected:
    // `kinds`: the versions of the gateway, WAN and connection devices, then the service type.
    std::string description(const std::string& kinds = "222WANIPConnection:2") const {
        return router.file("rootDesc.xml", {{"@1@", kinds.substr(0, 1)},
                                            {"@2@", kinds.substr(1, 1)},
                                            {"@3@", kinds.substr(2, 1)},
                                            {"@S@", kinds.substr(3)}});
    }
};

TEST_F(Discovery, LocationInAnyCaseElseTheFirstUrl) {
    const std::string ok = "HTTP/1.1 200 OK\r\n", url = "http://10.0.0.1:5000/d.xml";
    const std::pair<std::string, std::string> cases[] = {
        {router.file("ssdp-answer.txt", {{"@LOCATION@", url}}), url},
        {ok + "X: http://10.9.9.9/other\r\nlocation:" + url + "  \r\n\r\n", url},
        {ok + "LoCaTiOn :\t" + url + "\r\n\r\n", url},
        {ok + "X-Where: " + url + "\r\n\r\n", url},
        {ok + "LOCATION:\r\nAL: " + url + "\r\n\r\n", url},
        {"HTTP/1.1 200 OK\nLOCATION: " + url + "\n\n", ""}, // bare line feeds
        {ok + "LOCATION: " + url, ""},
    };
    for (const auto& [answer, expected] : cases) {
        std::string found;
        EXPECT_EQ(upnp_wire::description_url_of(answer, found) ? found : "", expected) << answer;
    }
}

TEST_F(Discovery, ARoutersOwnAnnouncementsTellAliveOrByebyeAndItsBootId) {
    const std::string alive = "NOTIFY * HTTP/1.1\r\nHOST: 239.255.255.250:1900\r\nLOCATION: "
                              "http://192.168.1.1:5000/rootDesc.xml\r\nNT: upnp:rootdevice\r\n";
    // The datagram; the notice it carries ("alive BOOTID"), empty for none.
    const std::pair<std::string, std::string> cases[] = {
        {alive + "NTS: ssdp:alive\r\nBOOTID.UPNP.ORG: 1796682617\r\n\r\n", "alive 1796682617"},
        {alive + "nts:SSDP:ALIVE\r\nbootid.upnp.org:\t42 \r\n\r\n", "alive 42"},
        {alive + "NTS: ssdp:byebye\r\n\r\n", "byebye "},
        {alive + "NTS: ssdp:alive\r\n\r\nBOOTID.UPNP.ORG: 9\r\n", "alive "}, // in the body
        {alive + "NTS: ssdp:update\r\nBOOTID.UPNP.ORG: 9\r\n\r\n", ""},
        {router.file("ssdp-answer.txt") + "NTS: ssdp:alive\r\n", ""},
        {"M-SEARCH * HTTP/1.1\r\nNTS: ssdp:alive\r\n\r\n", ""},
    };
    for (const auto& [datagram, told] : cases) {
        upnp_wire::SsdpNotice got;
        const bool notice = upnp_wire::ssdp_notice_of(datagram, got);
        EXPECT_EQ(notice ? (got.alive ? "alive " : "byebye ") + got.boot_id : "", told);
    }
}

TEST_F(Discovery, RefusedCandidateIsLoggedOnceAndTheNextOneTakenWhole) {
    fakerouter::FakeRouter gone;
    gone.stop();
    const std::string dead = gone.url("/rootDesc.xml"), good = router.url("/rootDesc.xml");
    router.on_ssdp({{"M-SEARCH"}, router.file("ssdp-answer.txt", {{"@LOCATION@", dead}})});
    std::vector<std::string> logged;
    nat.log = [&logged](const std::string& text) { logged.push_back(text); };
    // A refused connection is not tried again: each pause would last ten seconds.
    nat.init(60);
    nat.timings.connect_pause_ms = 10000;
    nat.timings.connect_budget_ms = nat.timings.description_deadline_ms = 20000;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(nat.discovery());
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(nat.failure, Failure::unreachable);
    EXPECT_EQ(nat.udp_socket, -1);
    // The 133 bytes of old for each gateway version, both sent twice.
    const std::string first = router.file("m-search.txt"), second = router.file("m-search-2.txt");
    EXPECT_EQ(router.datagrams(), (std::vector<std::string>{first, second, first, second}));
    ASSERT_EQ(logged.size(), 1u); // one line for the four answers
    EXPECT_TRUE(has(logged[0], "description of " + dead + " refused")) << logged[0];
    router.on_ssdp(
        {{"InternetGatewayDevice:2"}, router.file("ssdp-answer.txt", {{"@LOCATION@", good}})});
    std::string xml = description(); // a zero byte in it hides nothing
    xml.insert(xml.find("<deviceList>"), std::string(1, '\0'));
    router.on_http({{"GET /rootDesc.xml"}, http(xml)});
    ASSERT_TRUE(nat.discovery());
    EXPECT_EQ(std::to_string(nat.status) + nat.service_type + std::to_string(nat.igd_version) +
                  nat.control_url + nat.friendly_name,
              "1" + (SERVICE_WANIP2 + ("2" + router.url("/ctl/IPConn"))) + "Test Router & Co");
    EXPECT_EQ(nat.udp_socket + nat.tcp_socket, -2);
    EXPECT_EQ(nat.description, http(xml).replace(http(xml).find('\0'), 1, "\xEF\xBF\xBD"));
    EXPECT_EQ(router.requests(), std::vector<std::string>{router.file("get-description.txt")});
    EXPECT_EQ(logged.size(), 2u);
}

TEST_F(Discovery, TricklingDescriptionIsLeftAtItsDeadline) {
    router.on_http({{"GET /slow.xml"}, http(description("111WANPPPConnection:1")), 1, 20});
    nat.timings.description_deadline_ms = 200;
    // Without the deadline the trickle would hold the fetch for its 30 reads of 200 ms.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(nat.open_description(router.url("/slow.xml")));
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(nat.failure, Failure::bad_answer);
    router.on_http({{"GET /slow.xml"}, http(description("111WANPPPConnection:1"))});
    EXPECT_TRUE(nat.open_description(router.url("/slow.xml")));
    EXPECT_EQ(nat.service_type, SERVICE_WANPPP);
}

TEST_F(Discovery, ServiceOfEitherVersionIsSelected) {
    // Description kinds, and "<service type> v<version>"; empty when the walk refuses it.
    const std::pair<const char*, std::string> cases[] = {
        {"111WANIPConnection:1", SERVICE_WANIP + " v1"s},
        {"222WANIPConnection:2", SERVICE_WANIP2 + " v2"s},
        {"212WANPPPConnection:1", SERVICE_WANPPP + " v2"s},
        {"311WANIPConnection:1", ""},
        {"231WANIPConnection:1", ""},
        {"113WANIPConnection:1", ""},
        {"222WANIPConnection:3", ""},
    };
    for (const auto& [kinds, outcome] : cases) {
        nat.describe_url = "http://192.168.1.1:5000/rootDesc.xml";
        nat.description = http(description(kinds));
        const bool ok = nat.parse_description();
        EXPECT_EQ(ok ? nat.service_type + " v" + std::to_string(nat.igd_version) : "", outcome);
        EXPECT_EQ(nat.failure, ok ? Failure::none : Failure::bad_answer);
        EXPECT_EQ(nat.control_url, "http://192.168.1.1:5000/ctl/IPConn"); // or kept
    }
}

TEST_F(Discovery, EveryAnswerIsHeardAndTheGatewaysOwnRouterWins) {
    // A server that takes the connection and never answers: its fetch outlasts the window.
    const int silent = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in at{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t size = sizeof at;
    ::bind(silent, reinterpret_cast<sockaddr*>(&at), size);
    ::listen(silent, 8);
    ::getsockname(silent, reinterpret_cast<sockaddr*>(&at), &size);
    const std::string dead = "http://127.0.0.1:" + std::to_string(ntohs(at.sin_port)) + "/d.xml";
    const auto answer = [this](const std::string& url) {
        return router.file("ssdp-answer.txt", {{"@LOCATION@", url}});
    };
    std::vector<std::string> logged;
    nat.log = [&logged](const std::string& text) { logged.push_back(text); };
    router.on_ssdp({{"InternetGatewayDevice:1"}, answer(dead)});
    EXPECT_FALSE(nat.discovery());
    EXPECT_EQ(logged, std::vector<std::string>{"description of " + dead +
                                               " timed out: no answer within 1 s"});
    router.on_ssdp({{"InternetGatewayDevice:2"}, answer(router.url("/rootDesc.xml"))});
    router.on_http({{"GET /rootDesc.xml"}, http(description())});
    ASSERT_TRUE(nat.discovery());
    EXPECT_EQ(nat.control_url, router.url("/ctl/IPConn"));
    EXPECT_EQ(nat.udn + " " + nat.boot_id, "uuid:a1b2c3d4-0000-1000-8000-000000000001 7");
    ::close(silent);

    // Two routers, the default gateway's slower to describe itself: it wins all the same; with
    // the gateway elsewhere, the first usable one does. Both are kept.
    fakerouter::FakeRouter gateway("127.0.0.2");
    const std::string v1 = gateway.file(
        "rootDesc.xml", {{"@1@", "1"}, {"@2@", "1"}, {"@3@", "1"}, {"@S@", "WANIPConnection:1"}});
    gateway.on_http({{"GET /rootDesc.xml"}, http(v1), 400, 20});
    router.on_ssdp({{"InternetGatewayDevice:1"}, answer(gateway.url("/rootDesc.xml"))});
    for (const std::string address : {"127.0.0.2", "10.9.9.9"}) {
        nat.default_gateway = address;
        ASSERT_TRUE(nat.discovery());
        ASSERT_EQ(nat.routers.size(), 2u) << address;
        const bool own = address == "127.0.0.2";
        EXPECT_EQ(nat.routers[0].address, own ? "127.0.0.2" : "127.0.0.1");
        EXPECT_EQ(nat.control_url, (own ? gateway : router).url("/ctl/IPConn"));
        EXPECT_EQ(nat.igd_version, own ? 1 : 2);
    }
    ASSERT_TRUE(nat.use_router(1));
    EXPECT_EQ(nat.control_url + " " + std::to_string(nat.igd_version),
              gateway.url("/ctl/IPConn") + " 1");
    EXPECT_FALSE(nat.use_router(2));
}

TEST_F(Discovery, EveryWanDeviceIsSearchedAndTheConnectedServiceTaken) {
    const auto status = [this](const std::string& path, const std::string& state) {
        on("GetStatusInfo",
           reply("GetStatusInfo", "<NewConnectionStatus>" + state + "</NewConnectionStatus>"),
           {"POST " + path});
    };
    // The PPP service (first in the description, in a WAN device of its own) and the IP one:
    // which is connected, and what is taken. Relative control URLs resolve against the
    // description's own URL.
    const std::tuple<const char*, const char*, std::string, const char*> cases[] = {
        {"Disconnected", "Connected", SERVICE_WANIP, "/desc/ctl/IPConn"},
        {"Connected", "Disconnected", SERVICE_WANPPP, "/desc/ctl/PPPConn"},
        {"Disconnected", "Disconnected", SERVICE_WANIP, "/desc/ctl/IPConn"},
    };
    const auto describe = [this](const std::string& ppp, const std::string& ip) {
        router.on_http({{"GET /desc/root.xml"},
                        http(router.file("rootDesc-two-wan.xml", {{"@PPP@", ppp}, {"@IP@", ip}}))});
    };
    describe("ctl/PPPConn", "./ctl/x/../IPConn");
    for (const auto& [ppp, ip, type, path] : cases) {
        status("/desc/ctl/PPPConn", ppp);
        status("/desc/ctl/IPConn", ip);
        ASSERT_TRUE(nat.open_description(router.url("/desc/root.xml")));
        EXPECT_EQ(nat.service_type + " " + nat.control_url, type + " " + router.url(path));
    }
    // A control address that cannot be used makes the description unusable, and says why.
    describe("https://10.0.0.1/c", "http://router.local:5000/c");
    EXPECT_FALSE(nat.open_description(router.url("/desc/root.xml")));
    EXPECT_EQ(nat.failure, Failure::bad_answer);
    EXPECT_EQ(nat.last_error, "the router's description names a control address QuayMap cannot "
                              "use: http://router.local:5000/c (its host is no numeric address)\n");
}
