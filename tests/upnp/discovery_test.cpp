// Finding the gateway: URLs, the search, the candidates, the description and its service.
#include "harness.h"

#include <chrono>

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

TEST(Url, SplitsHostPortAndPath) {
    // "host port path", or empty when the URL is refused.
    const std::pair<const char*, const char*> cases[] = {
        {"http://192.168.1.1:5000/rootDesc.xml", "192.168.1.1 5000 /rootDesc.xml"},
        {"http://10.0.0.1/desc.xml", "10.0.0.1 80 /desc.xml"},
        {"http://10.0.0.1:49152abc/x", "10.0.0.1 49152 /x"},
        {"http://10.0.0.1:70000/x", "10.0.0.1 4464 /x"}, // the low sixteen bits
        {"http://10.0.0.1/a:b", "10.0.0.1 80 /a:b"},     // a colon in the path is no port
        {"http://192.168.1.1:5000", ""},
        {"192.168.1.1:80/x", ""},
    };
    for (const auto& [url, parts] : cases) {
        std::string host, path;
        uint16_t port = 0;
        const bool ok = UpnpNat::parse_url(url, host, port, path);
        EXPECT_EQ(ok ? host + " " + std::to_string(port) + " " + path : "", parts) << url;
    }
}

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
