// The engine over both protocols, against a scripted UPnP router and a NAT-PMP gateway on
// loopback: which router a search settles on, and what each command tells the user.
#include "FakeNatPmp.h"
#include "FakeRouter.h"
#include "RouterEngine.h"
#include "explain.h"
#include "log.h"

#include <gtest/gtest.h>

#include <memory>

using namespace quaymap;
using fakerouter::http;

namespace {

// A home network on loopback: a UPnP gateway of the given IGD version (0: none) and, when
// scripted, a NAT-PMP gateway; otherwise NAT-PMP goes to an address where nothing listens.
struct Network {
    fakerouter::FakeRouter router;
    std::unique_ptr<FakeNatPmp> natpmp;
    UpnpNat client;
    std::unique_ptr<RouterEngine> engine;
    std::vector<std::string> logs;

    explicit Network(int igd, const NatPmpScript* script = nullptr, const char* service = nullptr) {
        set_log_echo(false);
        set_log_observer([this](const std::string& line) { logs.push_back(line); });
        client.console = nullptr;
        client.ssdp_address = "127.0.0.1";
        client.ssdp_port = router.ssdp_port();
        client.timings.connect_timeout_ms = client.timings.read_wait_ms = 200;
        client.timings.connect_pause_ms = 5;
        client.timings.connect_budget_ms = client.timings.description_deadline_ms = 400;
        client.timings.ssdp_repeat_ms = 20;
        client.timings.ssdp_window_ms = 300;
        if (igd) {
            const std::string n = std::to_string(igd);
            router.on_ssdp(
                {{},
                 router.file("ssdp-answer.txt", {{"@LOCATION@", router.url("/rootDesc.xml")}})});
            const std::string wan = service ? service : "WANIPConnection:" + n;
            router.on_http({{"GET /rootDesc.xml"},
                            http(router.file("rootDesc.xml",
                                             {{"@1@", n}, {"@2@", n}, {"@3@", n}, {"@S@", wan}}))});
            answer("GetExternalIPAddress",
                   "<NewExternalIPAddress>198.51.100.9</NewExternalIPAddress>");
        }
        engine = std::make_unique<RouterEngine>(client);
        if (script)
            natpmp = std::make_unique<FakeNatPmp>(*script);
        engine->natpmp().force_gateway(natpmp ? natpmp->address : "127.0.0.3");
        engine->natpmp().set_timings({50, 3});
    }
    ~Network() { set_log_observer({}); }
    void answer(const std::string& action, const std::string& arguments) {
        router.on_http(
            {{"#" + action + "\""},
             http(router.file("response.xml", {{"@ACTION@", action}, {"@ARGS@", arguments}}))});
    }
    void refuse(const std::string& action, int code, const std::string& text) {
        router.on_http(
            {{"#" + action + "\""},
             http(router.file("fault.xml", {{"@CODE@", std::to_string(code)}, {"@TEXT@", text}}),
                  "500 Internal Server Error")});
    }
    std::size_t requests_for(const std::string& action) const {
        std::size_t n = 0;
        for (const std::string& request : router.requests())
            n += request.find("#" + action + "\"") != std::string::npos;
        return n;
    }
    std::vector<std::string> results() const {
        std::vector<std::string> found;
        for (const std::string& line : logs)
            if (line.rfind("search result:", 0) == 0)
                found.push_back(line);
        return found;
    }
};

const NatPmpScript kAnswers{}, kSilent{0};
const std::string kEntry =
    "<NewInternalPort>80</NewInternalPort><NewInternalClient>192.168.1.21"
    "</NewInternalClient><NewEnabled>1</NewEnabled><NewPortMappingDescription>"
    "Web Server</NewPortMappingDescription><NewLeaseDuration>0</NewLeaseDuration>";

} // namespace

TEST(Search, SettlesOnOneRouterAndLogsOneOutcome) {
    struct Case {
        int igd;
        const NatPmpScript* natpmp;
        const char* service;
        RouterKind kind;
        std::string name, public_address, result;
    };
    const Case cases[] = {
        {1, &kSilent, nullptr, RouterKind::igd1, "Test Router & Co", "198.51.100.9",
         "search result: upnp igd1 \"Test Router & Co\""},
        {2, &kAnswers, nullptr, RouterKind::igd2, "Test Router & Co", "198.51.100.9",
         "search result: upnp igd2 \"Test Router & Co\""},
        {0, &kAnswers, nullptr, RouterKind::natpmp, "AirPort Station", "198.51.100.7", ""},
        // A description without a usable service does not hold the search: NAT-PMP answers.
        {1, &kAnswers, "Layer3Forwarding:1", RouterKind::natpmp, "AirPort Station", "198.51.100.7",
         ""},
        {0, &kSilent, nullptr, RouterKind::none, "", "", "search result: none"},
        {0, nullptr, nullptr, RouterKind::none, "", "", "search result: none"},
    };
    for (const Case& c : cases) {
        Network net(c.igd, c.natpmp, c.service);
        const SearchOutcome found = net.engine->search({});
        EXPECT_EQ(found.kind, c.kind) << c.result;
        EXPECT_EQ(found.name, c.name);
        EXPECT_EQ(found.public_address, c.public_address);
        EXPECT_EQ(found.reason.empty(), c.kind != RouterKind::none);
        const std::string result = c.kind == RouterKind::natpmp
                                       ? "search result: natpmp " + net.natpmp->address
                                       : c.result;
        EXPECT_EQ(net.results(), std::vector<std::string>{result});
        if (c.kind == RouterKind::natpmp) {
            EXPECT_EQ(found.address, net.natpmp->address);
        }
        // An IGD answer makes NAT-PMP moot: its wait is cut short instead of retransmitting.
        if (c.igd && c.natpmp == &kSilent) {
            EXPECT_EQ(net.natpmp->requests().size(), 1u);
        }
    }
}

TEST(Search, AsksNatPmpAsTheRouterSearchAlwaysHas) {
    Network net(0, &kAnswers);
    net.engine->search({});
    const std::vector<std::string> expected = {
        "trying to find Apple router!!!", "find Apple router!!!",
        "try to send public ip address request, find Apple router!!!",
        "sended public ip address request", "geted timeout func"};
    ASSERT_GE(net.logs.size(), expected.size());
    EXPECT_EQ(std::vector<std::string>(net.logs.begin(), net.logs.begin() + 5), expected);
}

TEST(Commands, RefusalsNameTheirReasonInWords) {
    struct Case {
        int code;
        const char* text;
        bool holder;
        std::string says;
    };
    const Case cases[] = {
        {718, "ConflictInMappingEntry", true,
         "Port 8080/TCP already goes to 192.168.1.21 (Web Server)."},
        {718, "ConflictInMappingEntry", false, "The router refuses mappings for other computers"},
        {606, "Action not authorized", false, "does not let this computer change port mappings"},
        {402, "Invalid Args", false, "The router refused to add the mapping: 402 Invalid Args."},
    };
    for (const Case& c : cases) {
        Network net(1);
        ASSERT_EQ(net.engine->search({}).kind, RouterKind::igd1);
        net.refuse("AddPortMapping", c.code, c.text);
        if (c.holder)
            net.answer("GetSpecificPortMappingEntry", kEntry);
        const CommandResult added = net.engine->add({"web", 8080, 0, "tcp", "192.168.1.20", -1});
        EXPECT_EQ(added.verdict, Verdict::refused);
        EXPECT_EQ(added.upnp_error_code, c.code);
        EXPECT_NE(added.message.find(c.says), std::string::npos) << added.message;
    }
}

TEST(Commands, AddReportsTheLeaseTheRouterKeepsAndSendsUpperCase) {
    Network net(2);
    net.engine->search({});
    net.answer("AddPortMapping", "");
    net.answer("GetSpecificPortMappingEntry",
               kEntry.substr(0, kEntry.find("0</NewLease")) + "604800</NewLeaseDuration>");
    const CommandResult added = net.engine->add({"web", 8080, 80, "udp", "", -1});
    ASSERT_TRUE(added.ok()) << added.message;
    const MappingRecord expected{"web", "UDP", "8080", "127.0.0.1", "80", "604800"};
    EXPECT_EQ(added.row, expected);
    EXPECT_EQ(added.row.lease_duration, "604800");
    EXPECT_NE(net.router.requests().back().find("<NewProtocol>UDP</NewProtocol>"),
              std::string::npos);
}

TEST(Commands, ARouterThatWentAwayIsUnreachableNotARefusal) {
    Network net(1);
    net.engine->search({});
    net.router.stop();
    const std::vector<CommandResult> results = {
        net.engine->add({"web", 8080, 0, "TCP", "192.168.1.20", -1}),
        net.engine->remove({"web", "TCP", "8080", "192.168.1.20", "80", "0"}),
        net.engine->public_address(), net.engine->list({})};
    for (const CommandResult& result : results) {
        EXPECT_EQ(result.verdict, Verdict::unreachable);
        EXPECT_NE(result.message.find("did not answer"), std::string::npos) << result.message;
        EXPECT_EQ(result.message.find("refused"), std::string::npos) << result.message;
    }
}

TEST(Commands, NothingIsSentForARequestThatCannotBeRight) {
    Network net(1);
    net.engine->search({});
    const std::size_t before = net.router.requests().size();
    for (const char* port : {"99999", "-1", "", "80x", "0"})
        EXPECT_EQ(net.engine->remove({"x", "TCP", port, "192.168.1.20", "80", "0"}).verdict,
                  Verdict::invalid)
            << port;
    EXPECT_EQ(net.engine->add({"x", 8080, 0, "SCTP", "", -1}).verdict, Verdict::invalid);
    EXPECT_EQ(net.engine->add({"x", 8080, 0, "TCP", "192.168.1", -1}).verdict, Verdict::invalid);
    EXPECT_EQ(net.router.requests().size(), before);
}

TEST(Commands, ListHandsOverEachRowAsItIsRead) {
    Network net(1);
    net.engine->search({});
    for (int i = 0; i < 3; ++i)
        net.router.on_http(
            {{"GetGenericPortMappingEntry", "Index>" + std::to_string(i) + "<"},
             http(net.router.file(
                 "response.xml",
                 {{"@ACTION@", "GetGenericPortMappingEntry"},
                  {"@ARGS@", net.router.file("entry.xml", {{"@N@", std::to_string(8080 + i)},
                                                           {"@PROTO@", "TCP"},
                                                           {"@DESC@", "web"}})}}))});
    std::vector<std::string> ports;
    const CommandResult listed = net.engine->list(
        [&ports](const MappingRecord& row) { ports.push_back(row.external_port); });
    EXPECT_TRUE(listed.ok());
    EXPECT_EQ(ports, (std::vector<std::string>{"8080", "8081", "8082"}));
}

TEST(Commands, NatPmpRouterAnswersOverNatPmp) {
    Network net(0, &kAnswers);
    ASSERT_EQ(net.engine->search({}).kind, RouterKind::natpmp);
    EXPECT_EQ(net.engine->public_address().address, "198.51.100.7");
    const CommandResult added = net.engine->add({"game", 27015, 0, "UDP", "Localhost", -1});
    ASSERT_TRUE(added.ok()) << added.message;
    EXPECT_EQ(added.row.external_port, "27015");
    EXPECT_EQ(added.row.lease_duration, "7200");
    EXPECT_EQ(net.engine->add({"game", 27016, 0, "UDP", "192.168.1.99", -1}).verdict,
              Verdict::invalid);
    EXPECT_TRUE(net.engine->remove(added.row).ok());
    EXPECT_EQ(net.natpmp->requests().back().substr(8), std::string(4, '\0')); // lifetime 0
    EXPECT_EQ(net.requests_for("AddPortMapping"), 0u);
}

TEST(Texts, AddressesLeasesAndPorts) {
    for (const char* address : {"11.87.0.2", "198.51.100.9", "100.63.255.255", "172.32.0.1"})
        EXPECT_TRUE(is_public_address(address)) << address;
    for (const char* address : {"0.0.0.0", "10.1.2.3", "100.64.0.1", "100.127.255.254",
                                "172.16.0.1", "172.31.255.255", "192.168.1.1", "", "example"})
        EXPECT_FALSE(is_public_address(address)) << address;
    EXPECT_TRUE(double_nat_warning("11.87.0.2").empty());
    EXPECT_NE(double_nat_warning("100.64.1.1").find("carrier-grade or double NAT"),
              std::string::npos);
    const std::pair<const char*, const char*> leases[] = {{"0", "permanent"},
                                                          {"604799", "6 d 23 h"},
                                                          {"7200", "2 h 0 min"},
                                                          {"59", "59 s"},
                                                          {"600", "10 min"},
                                                          {"", ""},
                                                          {"-5", ""},
                                                          {"1e9", ""}};
    for (const auto& [seconds, text] : leases)
        EXPECT_EQ(lease_text(seconds), text) << seconds;
    EXPECT_EQ(ports_text({"", "TCP", "2222", "", "22", ""}), "2222 \u2192 22");
    EXPECT_EQ(ports_text({"", "TCP", "8080", "", "8080", ""}), "8080");
}
