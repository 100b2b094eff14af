// The engine over both protocols, against a scripted UPnP router and NAT-PMP gateway on loopback:
// which router a search settles on, and what each command tells the user.
#include "FakeNatPmp.h"
#include "FakeRouter.h"
#include "RouterEngine.h"
#include "explain.h"
#include "log.h"
#include "router_text.h"
#include "rules.h"

#include <filesystem>
#include <gtest/gtest.h>

#include <algorithm>
#include <arpa/inet.h>
#include <memory>
#include <poll.h>
#include <set>
#include <tuple>

using namespace quaymap;
using namespace std::string_literals;
using fakerouter::http;

namespace {

bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

enum NatPmp { nothing = -2, silent = -1, answers = 0 }; // the NAT-PMP gateway

// A home network on loopback: a UPnP gateway of IGD version `igd` (0: none) offering `service`,
// and a NAT-PMP gateway.
struct Network {
    fakerouter::FakeRouter router;
    std::unique_ptr<FakeNatPmp> natpmp;
    UpnpNat client;
    std::unique_ptr<RouterEngine> engine;
    std::vector<std::string> results; // the "search result:" lines logged

    explicit Network(int igd, NatPmp gateway = nothing, std::string service = "",
                     const std::string& name = "Test Router") {
        build(igd, gateway, service, name);
    }
    void build(int igd, NatPmp gateway, std::string service, const std::string& name) {
        set_log_echo(false);
        set_log_observer([this](const std::string& line) {
            if (line.rfind("search result:", 0) == 0)
                results.push_back(line);
        });
        client.console = nullptr;
        client.ssdp_address = "127.0.0.1";
        client.ssdp_port = router.ssdp_port;
        client.default_gateway = "127.0.0.1";
        client.timings = {200, 5, 400, 200, 20, 300, 400};
        const std::string n = std::to_string(igd);
        if (igd) {
            const std::string location = router.url("/rootDesc.xml");
            router.on_ssdp({{}, router.file("ssdp-answer.txt", {{"@LOCATION@", location}})});
            service = service.empty() ? "WANIPConnection:" + n : service;
            const std::map<std::string, std::string> fill{
                {"@1@", n}, {"@2@", n}, {"@3@", n}, {"@S@", service}, {"Test Router", name}};
            router.on_http({{"GET /rootDesc.xml"}, http(router.file("rootDesc.xml", fill))});
            answer("GetExternalIPAddress",
                   "<NewExternalIPAddress>198.51.100.9</NewExternalIPAddress>");
        }
        if (gateway != nothing)
            natpmp = std::make_unique<FakeNatPmp>(gateway);
        rebuild({});
    }
    // The engine again, built with these settings, over the same network.
    void rebuild(const EngineSettings& settings) {
        engine = std::make_unique<RouterEngine>(client, settings);
        engine->natpmp().force_gateway(natpmp ? natpmp->address : "127.0.0.3");
        engine->natpmp().set_timings({100, 3});
    }
    ~Network() { set_log_observer({}); }
    // What the router says to `action`: its out-arguments, or a refusal with `code`.
    std::string reply(const std::string& action, const std::string& arguments) const {
        return http(router.file("response.xml", {{"@ACTION@", action}, {"@ARGS@", arguments}}));
    }
    std::string fault(int code, const std::string& text) const {
        return http(router.file("fault.xml", {{"@CODE@", std::to_string(code)}, {"@TEXT@", text}}),
                    "500 Internal Server Error");
    }
    void answer(const std::string& action, const std::string& arguments) {
        router.on_http({{"#" + action + "\""}, reply(action, arguments)});
    }
    void refuse(const std::string& action, int code, const std::string& text) {
        router.on_http({{"#" + action + "\""}, fault(code, text)});
    }
};

// The out-arguments of GetSpecificPortMappingEntry, but the lease.
const std::string kEntry = "<NewInternalPort>80</NewInternalPort><NewInternalClient>192.168.1.21"
                           "</NewInternalClient><NewEnabled>1</NewEnabled>"
                           "<NewPortMappingDescription>Web Server</NewPortMappingDescription>";

} // namespace

TEST(Search, SettlesOnOneRouterAndLogsOneOutcome) {
    // The UPnP gateway, its service, the NAT-PMP gateway; the outcome as the line logs it.
    const std::tuple<int, const char*, NatPmp, RouterKind, std::string> cases[] = {
        {1, "", silent, RouterKind::igd1, "upnp igd1"},
        {2, "", answers, RouterKind::igd2, "upnp igd2"},
        {0, "", answers, RouterKind::natpmp, "natpmp"},
        // A description without a usable service does not hold the search: NAT-PMP answers.
        {1, "Layer3Forwarding:1", answers, RouterKind::natpmp, "natpmp"},
        {0, "", silent, RouterKind::none, "none"},
        {0, "", nothing, RouterKind::none, "none"},
    };
    for (const auto& [igd, service, gateway, kind, result] : cases) {
        Network net(igd, gateway, service);
        const SearchOutcome found = net.engine->search({});
        const bool upnp = kind == RouterKind::igd1 || kind == RouterKind::igd2;
        const bool natpmp = kind == RouterKind::natpmp;
        EXPECT_EQ(found.kind, kind) << result;
        EXPECT_EQ(found.name, upnp ? "Test Router & Co" : natpmp ? "AirPort Station" : "");
        EXPECT_EQ(found.address, upnp ? "127.0.0.1" : natpmp ? net.natpmp->address : "");
        EXPECT_EQ(found.public_address, upnp ? "198.51.100.9" : natpmp ? "198.51.100.7" : "");
        EXPECT_EQ(found.reason.empty(), kind != RouterKind::none);
        const std::string what = upnp ? " \"Test Router & Co\"" : natpmp ? " " + found.address : "";
        EXPECT_EQ(net.results, std::vector<std::string>{"search result: " + result + what});
        // An IGD answer makes NAT-PMP moot: its wait is cut short instead of retransmitting.
        if (upnp && net.natpmp) {
            EXPECT_LT(net.natpmp->requests().size(), 3u);
        }
    }
}

TEST(Search, SeveralRoutersAreKeptAndCommandsGoToTheChosenOne) {
    Network net(1);
    net.client.timings.ssdp_others_ms = 2000; // a loaded machine may be slow to hear the second
    fakerouter::FakeRouter second("127.0.0.2");
    second.on_http(
        {{"GET /rootDesc.xml"},
         http(second.file(
             "rootDesc.xml",
             {{"@1@", "2"}, {"@2@", "2"}, {"@3@", "2"}, {"@S@", "WANIPConnection:2"}}))});
    net.router.on_ssdp(
        {{"InternetGatewayDevice:2"},
         net.router.file("ssdp-answer.txt", {{"@LOCATION@", second.url("/rootDesc.xml")}})});
    const auto where = [](const SearchOutcome& found) {
        std::string text = found.address + " " + kind_name(found.kind) + ":";
        for (const RouterChoice& router : found.routers)
            text += " " + router.address;
        return text;
    };
    // The default gateway's (127.0.0.1) unless an address is asked for.
    EXPECT_EQ(where(net.engine->search({})), "127.0.0.1 upnp igd1: 127.0.0.1 127.0.0.2");
    EngineSettings settings;
    settings.router_address = "127.0.0.2";
    net.rebuild(settings);
    EXPECT_EQ(where(net.engine->search({})), "127.0.0.2 upnp igd2: 127.0.0.1 127.0.0.2");
    EXPECT_EQ(net.engine->remove({"", "TCP", "8080", "", "8080", ""}).verdict, Verdict::refused);
    EXPECT_TRUE(has(second.requests().back(), "#DeletePortMapping\""));
    EXPECT_EQ(where(net.engine->choose(0)), "127.0.0.1 upnp igd1: 127.0.0.1 127.0.0.2");
    EXPECT_EQ(net.engine->choose(0).public_address, "198.51.100.9");
    EXPECT_EQ(net.engine->choose(2).kind, RouterKind::none);
    settings.router_address = "10.1.1.1";
    net.rebuild(settings);
    const SearchOutcome nowhere = net.engine->search({});
    EXPECT_EQ(nowhere.kind, RouterKind::none);
    EXPECT_EQ(nowhere.reason, "No router answered at 10.1.1.1.");
}

TEST(Commands, RefusalsNameTheirReasonInWords) {
    Network net(1);
    ASSERT_EQ(net.engine->search({}).kind, RouterKind::igd1);
    // The refusal, whether a mapping holds the port, the key fact of the message.
    const std::tuple<int, const char*, bool, const char*> cases[] = {
        {718, "ConflictInMappingEntry", false, "secure mode"},
        {606, "Action not authorized", false, "does not let this computer"},
        {402, "Invalid Args", false, "refused to add the mapping: 402 Invalid Args"},
        {718, "ConflictInMappingEntry", true, "8080/TCP already goes to 192.168.1.21 (Web Server)"},
    };
    for (const auto& [code, text, held, says] : cases) {
        net.refuse("AddPortMapping", code, text);
        if (held)
            net.answer("GetSpecificPortMappingEntry", kEntry);
        const CommandResult added = net.engine->add({"web", 8080, 0, "tcp", "192.168.1.20", -1});
        EXPECT_EQ(added.verdict, Verdict::refused);
        EXPECT_EQ(added.upnp_error_code, code);
        EXPECT_TRUE(has(added.message, says)) << added.message;
    }
}

TEST(Commands, AddReportsTheLeaseTheRouterKeepsUnlessAStopIsPending) {
    Network net(2);
    net.engine->search({});
    net.answer("AddPortMapping", "");
    net.answer("GetSpecificPortMappingEntry",
               kEntry + "<NewLeaseDuration>604800</NewLeaseDuration>");
    const CommandResult added = net.engine->add({"web", 8080, 80, "udp", "", -1});
    ASSERT_TRUE(added.ok()) << added.message;
    EXPECT_EQ(added.row, (Mapping{"web", "UDP", "8080", "127.0.0.1", "80", "604800"}));
    EXPECT_EQ(added.row.lease_duration, "604800");
    // Once a stop is pending the add goes, but no lookup after it (nor of a 718's holder).
    EngineSettings stopping;
    stopping.stop_requested = [] { return true; };
    net.rebuild(stopping);
    net.engine->search({});
    const std::size_t before = net.router.requests().size();
    EXPECT_EQ(net.engine->add({"web", 8080, 80, "udp", "", 3600}).row.lease_duration, "3600");
    net.refuse("AddPortMapping", 718, "ConflictInMappingEntry");
    EXPECT_FALSE(has(net.engine->add({"web", 8080, 80, "udp", "", 3600}).message, "secure mode"));
    EXPECT_EQ(net.router.requests().size(), before + 2);
}

TEST(Commands, ARouterThatWentAwayIsUnreachableNotARefusal) {
    Network net(1);
    net.engine->search({});
    net.router.stop();
    for (const CommandResult& result :
         {net.engine->add({"web", 8080, 0, "TCP", "192.168.1.20", -1}),
          net.engine->remove({"web", "TCP", "8080", "192.168.1.20", "80", "0"}),
          net.engine->public_address(), net.engine->list({})}) {
        EXPECT_EQ(result.verdict, Verdict::unreachable);
        EXPECT_TRUE(has(result.message, "did not answer")) << result.message;
        EXPECT_FALSE(has(result.message, "refused")) << result.message;
    }
}

TEST(Commands, NothingIsSentForARequestThatCannotBeRight) {
    Network net(1);
    net.engine->search({});
    const std::size_t before = net.router.requests().size();
    for (const char* port : {"99999", "65536", "-1", "", "80x", "0"})
        EXPECT_EQ(net.engine->remove({"x", "TCP", port, "192.168.1.20", "80", "0"}).verdict,
                  Verdict::invalid)
            << port;
    // The rules the faces share, and the engine applies whoever sent the request.
    const std::pair<AddRequest, const char*> adds[] = {
        {{" ", 8080, 0, "tcp", "", -1}, "Give the mapping a name."},
        {{"x", 0, 0, "tcp", "", -1}, "The port must be a number from 1 to 65535."},
        {{"x", 8080, 0, "SCTP", "", -1}, "The protocol must be TCP or UDP."},
        {{"x", 8080, 0, "udp", "192.168.1", -1},
         "The address must be an IPv4 address such as 192.168.1.20."},
    };
    for (const auto& [request, problem] : adds) {
        EXPECT_EQ(add_problem(request), problem);
        EXPECT_EQ(net.engine->add(request).message, problem);
    }
    EXPECT_EQ(net.router.requests().size(), before);
    const AddRequest done = completed({"x", 8080, 0, "udp", "", 60}, "10.0.0.2");
    EXPECT_EQ(done.protocol + done.internal_client + std::to_string(done.internal_port),
              "UDP10.0.0.28080");
}

TEST(Rules, RenewalsAndExitStatuses) {
    // From a half to five eighths of the lease as the chance picks, a second at the least; none
    // for a permanent lease or one the router kept to itself. A request that cannot be right is
    // not tried again; a silent router after 5 s, then twice as long each time up to 5 min.
    std::string delays;
    for (const auto& [lease, chance] : {std::pair{"3600", 0.0},
                                        {"3600", 1.0},
                                        {"604800", 0.5},
                                        {"1", 0.5},
                                        {"0", 0.5},
                                        {"", 0.5},
                                        {"x", 0.5}})
        delays += std::to_string(renewal_delay_s({"", "", "", "", "", lease}, chance)) + " ";
    EXPECT_EQ(delays, "1800 2250 340200 1 -1 -1 -1 ");
    EXPECT_EQ(renewal_retry_s(Verdict::refused), 60);
    EXPECT_EQ(renewal_retry_s(Verdict::invalid), -1);
    std::string pauses;
    for (long n = 0, pause = 0; n < 8; ++n)
        pauses += std::to_string(pause = router_pause_s(pause)) + " ";
    EXPECT_EQ(pauses, "5 10 20 40 80 160 300 300 ");
    std::string statuses;
    for (const Verdict verdict :
         {Verdict::done, Verdict::refused, Verdict::invalid, Verdict::unreachable})
        statuses += std::to_string(exit_status(verdict));
    EXPECT_EQ(statuses, "0124");
    EXPECT_EQ(std::string(kind_key(RouterKind::igd2)) + kind_words(RouterKind::natpmp),
              "igd2NAT-PMP");
}

TEST(Commands, AListingThatAChangeInterruptedMissesNoRow) {
    // The table (above 1000: refused); the row (handed over as read) after which the listing
    // deletes (-) or adds (+: first, last above 50) a port; the rows handed over; what was unread.
    const std::tuple<std::vector<int>, int, int, std::vector<int>, std::string> cases[] = {
        {{1, 2, 3, 4, 5}, 2, -2, {1, 2, 3, 4, 5}, ""},      // a row read: the rest moved back
        {{1, 2, 3, 4, 5}, 2, -4, {1, 2, 3, 5}, ""},         // a row ahead: nothing moved
        {{1, 2, 3, 4, 5}, 2, +9, {1, 2, 3, 4, 5, 9}, ""},   // anywhere: read again
        {{1, 2, 3, 4, 5}, 1, +99, {1, 2, 3, 4, 5, 99}, ""}, // no false end on the row read last
        {{1, 1002, 3, 4, 5}, 3, -1002, {1, 3, 4, 5}, ""},   // maybe a row skipped: read again
        {{1, 1002, 3, 4, 5}, 3, -5, {1, 3, 4}, " (entry 2: 501 Action Failed)."},
    };
    for (const auto& [ports, after, change, handed, unread] : cases) {
        std::vector<int> table = ports; // as the router holds it, request by request
        Network net(1);
        net.engine->search({});
        const auto serve = [&](const std::string& r) {
            const auto value = [&](std::string tag) {
                return std::atoi(&r[r.find(tag) + tag.size()]);
            };
            const std::size_t hash = r.find('#');
            const std::string action = r.substr(hash + 1, r.find('"', hash) - hash - 1);
            const int port = value("<NewExternalPort>");
            if (action == "DeletePortMapping")
                table.erase(std::find(table.begin(), table.end(), port));
            if (action == "AddPortMapping")
                table.insert(port > 50 ? table.end() : table.begin(), port);
            const bool entry = action == "GetGenericPortMappingEntry";
            const std::size_t index = entry ? value("<NewPortMappingIndex>") : 0;
            const int held = !entry ? 1 : index < table.size() ? table[index] : 0;
            const std::map<std::string, std::string> row = {{"@N@", std::to_string(held)},
                                                            {"@PROTO@", "TCP"}};
            return !held || held > 1000
                       ? net.fault(held ? 501 : 714, "Action Failed")
                       : net.reply(action, entry ? net.router.file("entry.xml", row) : "");
        };
        net.router.on_http({{}, "", 0, 0, SIZE_MAX, false, serve});
        std::set<int> rows;
        const CommandResult listed = net.engine->list([&](const Mapping& row) {
            const int port = std::stoi(row.external_port);
            if (port == after && rows.insert(port).second)
                change < 0 ? net.engine->remove({"", "TCP", std::to_string(-change), "", "", ""})
                           : net.engine->add({"x", uint16_t(change), 0, "TCP", "", -1});
            rows.insert(port);
        });
        EXPECT_EQ(std::vector<int>(rows.begin(), rows.end()), handed);
        EXPECT_EQ(unread_text(listed.unread),
                  unread.empty() ? "" : "The router did not list every mapping" + unread);
    }
}

TEST(Commands, NatPmpRouterAnswersOverNatPmp) {
    Network net(0, answers);
    ASSERT_EQ(net.engine->search({}).kind, RouterKind::natpmp);
    EXPECT_EQ(net.engine->public_address().address, "198.51.100.7");
    const CommandResult added = net.engine->add({"game", 27015, 0, "udp", "", -1});
    ASSERT_TRUE(added.ok()) << added.message;
    EXPECT_EQ(added.row.external_port + added.row.protocol + added.row.lease_duration,
              "27015UDP7200");
    EXPECT_EQ(net.engine->add({"game", 27016, 0, "UDP", "192.168.1.99", -1}).verdict,
              Verdict::invalid);
    EXPECT_TRUE(net.engine->remove(added.row).ok());
    // The address twice, then UDP 27015 for two hours, then for none: the delete.
    EXPECT_EQ(net.natpmp->requests(),
              (std::vector<std::string>{"\0\0"s, "\0\0"s, "\0\x01\0\0\x69\x87\x69\x87\0\0\x1c\x20"s,
                                        "\0\x01\0\0\x69\x87\0\0\0\0\0\0"s}));
    EXPECT_TRUE(net.router.requests().empty());
}

TEST(Texts, RouterTextIsOneLineOfValidUtf8) {
    // Line breaks and control characters (C0, DEL, C1, U+2028) become spaces; each invalid
    // sequence (a stray byte, an overlong form, a surrogate, past U+10FFFF, cut short) U+FFFD.
    EXPECT_EQ(one_line("Caf\u00e9\r\n\t\x1b[2J\x07\x7f\u009b\u2028\U0001F600"),
              "Caf\u00e9    [2J    \U0001F600");
    EXPECT_EQ(one_line("\xe9t\xc3(\xc0\xaf\xed\xa0\x80\xf4\x90\x80\x80\xe2\x82"),
              "\uFFFDt\uFFFD(\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD\uFFFD");
    // The log line of a router whose name holds markup, a line feed and a terminal control.
    Network net(1, nothing, "", "&lt;b&gt;Big&#10;Lab\x1b[2J");
    EXPECT_EQ(net.engine->search({}).name, "<b>Big\nLab\x1b[2J & Co");
    EXPECT_EQ(net.results,
              std::vector<std::string>{"search result: upnp igd1 \"<b>Big Lab [2J & Co\""});
}

TEST(Texts, AddressesLeasesAndPorts) {
    for (const char* address : {"11.87.0.2", "100.63.255.255", "172.32.0.1"})
        EXPECT_TRUE(is_public_address(address)) << address;
    for (const char* address : {"0.0.0.0", "10.1.2.3", "100.64.0.1", "100.127.255.254",
                                "172.16.0.1", "172.31.255.255", "192.168.1.1", "", "example"})
        EXPECT_FALSE(is_public_address(address)) << address;
    EXPECT_EQ(double_nat_warning("11.87.0.2"), "");
    EXPECT_TRUE(has(double_nat_warning("100.64.1.1"), "double NAT"));
    std::string leases;
    for (const char* seconds : {"0", "604799", "7200", "59", "600", "", "-5", "1e9"})
        leases += lease_text(seconds) + "|";
    EXPECT_EQ(leases, "permanent|6 d 23 h|2 h 0 min|59 s|10 min||||");
    EXPECT_EQ(ports_text({"", "TCP", "2222", "", "22", ""}), "2222 \u2192 22");
    EXPECT_EQ(ports_text({"", "TCP", "8080", "", "8080", ""}), "8080");
}

TEST(Commands, WhatTheRouterConfirmedGoesToTheRecord) {
    char folder[] = "/tmp/quaymap-engine-XXXXXX";
    EngineSettings settings;
    settings.record_folder = ::mkdtemp(folder);
    const auto held = [](Engine& engine) {
        std::string text;
        for (const RecordEntry& e : engine.recorded())
            text += e.router + " " + e.protocol + " " + std::to_string(e.external_port) + ">" +
                    std::to_string(e.internal_port) + "/" + e.transport + " " + e.internal_client +
                    " " + e.name + " " + std::to_string(e.lease) + (e.kept ? " kept;" : ";");
        return text;
    };
    Network igd(2);
    igd.rebuild(settings);
    igd.engine->search({});
    igd.answer("AddPortMapping", "");
    igd.answer("GetSpecificPortMappingEntry", kEntry + "<NewLeaseDuration>3600</NewLeaseDuration>");
    AddRequest kept{"web", 8080, 80, "udp", "", -1};
    kept.keep = true;
    ASSERT_TRUE(igd.engine->add(kept).ok());
    ASSERT_TRUE(igd.engine->add({"ssh", 2222, 22, "tcp", "", 0}).ok());
    igd.refuse("AddPortMapping", 718, "ConflictInMappingEntry");
    EXPECT_FALSE(igd.engine->add({"dns", 53, 0, "udp", "", -1}).ok());
    igd.refuse("DeletePortMapping", 714, "NoSuchEntryInArray");
    EXPECT_FALSE(igd.engine->remove({"", "TCP", "2222", "", "", ""}).ok());
    const std::string uuid = "uuid:a1b2c3d4-0000-1000-8000-000000000001 igd2 ";
    EXPECT_EQ(held(*igd.engine), uuid + "8080>80/UDP 127.0.0.1 web 3600 kept;" + uuid +
                                     "2222>22/TCP 127.0.0.1 ssh 3600;");
    igd.answer("DeletePortMapping", "");
    EXPECT_TRUE(igd.engine->remove({"", "udp", "8080", "", "", ""}).ok());
    EXPECT_EQ(held(*igd.engine), uuid + "2222>22/TCP 127.0.0.1 ssh 3600;");

    // A NAT-PMP gateway is named by its address, and a mapping by this computer's port.
    Network natpmp(0, answers);
    natpmp.rebuild(settings);
    natpmp.engine->search({});
    ASSERT_TRUE(natpmp.engine->add({"game", 27015, 0, "udp", "", 600}).ok());
    EXPECT_EQ(held(*natpmp.engine),
              natpmp.natpmp->address + " natpmp 27015>27015/UDP 127.0.0.1 game 600;");
    EXPECT_TRUE(natpmp.engine->remove({"", "UDP", "1", "", "27015", ""}).ok());
    EXPECT_EQ(held(*natpmp.engine), "");
    EXPECT_EQ(held(*igd.engine), uuid + "2222>22/TCP 127.0.0.1 ssh 3600;");
    std::filesystem::remove_all(settings.record_folder);
}

namespace {

// Sends `datagram` from `from` to where `fd` listens.
void announce(int fd, const std::string& from, const std::string& datagram) {
    sockaddr_in to{}, source{AF_INET, 0, {}, {}};
    socklen_t size = sizeof to;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&to), &size);
    const int out = ::socket(AF_INET, SOCK_DGRAM, 0);
    ::inet_pton(AF_INET, from.c_str(), &source.sin_addr);
    ::bind(out, reinterpret_cast<sockaddr*>(&source), sizeof source);
    ::sendto(out, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to), size);
    ::close(out);
    pollfd arrived{fd, POLLIN, 0};
    ::poll(&arrived, 1, 1000);
}

} // namespace

TEST(Signs, ARouterTellsWhatItLostByChecksAndRestartAnnouncements) {
    Network igd(2);
    igd.client.notify_port = 0; // the listener on loopback, at a port of its own
    igd.engine->search({});
    // The router's refusal (0: it holds 192.168.1.21:80 on the port); the mapping checked (by its
    // client); held, lost, or a verdict.
    const std::tuple<int, const char*, const char*> checks[] = {
        {0, "192.168.1.21", "held"},
        {0, "192.168.1.20", "lost"}, // another computer's mapping on the port
        {714, "192.168.1.21", "lost"},
        {501, "192.168.1.21", "refused"},
    };
    for (const auto& [code, client, outcome] : checks) {
        code ? igd.refuse("GetSpecificPortMappingEntry", code, "No")
             : igd.answer("GetSpecificPortMappingEntry", kEntry);
        const CommandResult checked = igd.engine->check({"web", "tcp", "8080", client, "80", ""});
        EXPECT_EQ(checked.ok() ? (checked.held ? "held" : "lost") : verdict_name(checked.verdict),
                  std::string(outcome));
    }

    // The search answer said BOOTID 7: an ssdp:alive from the router with another is a restart,
    // told once; another computer's word counts for nothing.
    const int fd = igd.engine->announcements();
    ASSERT_GE(fd, 0);
    const auto notify = [&](const std::string& from, const std::string& nts, const char* boot) {
        announce(fd, from,
                 "NOTIFY * HTTP/1.1\r\nNT: upnp:rootdevice\r\nNTS: " + nts + "\r\n" +
                     (*boot ? "BOOTID.UPNP.ORG: " + std::string(boot) + "\r\n" : "") + "\r\n");
    };
    std::string why;
    notify("127.0.0.1", "ssdp:alive", "7");
    notify("127.0.0.2", "ssdp:alive", "8");
    EXPECT_FALSE(igd.engine->restarted(why));
    notify("127.0.0.1", "ssdp:byebye", "7");
    notify("127.0.0.1", "ssdp:alive", "8");
    EXPECT_TRUE(igd.engine->restarted(why));
    EXPECT_EQ(why, "its BOOTID.UPNP.ORG went from 7 to 8");
    EXPECT_FALSE(igd.engine->restarted(why));

    // A base station's start announces epoch 0 (PCP's ANNOUNCE); 100 s after it said 1, that is a
    // restart, as an answer with that epoch would be.
    Network natpmp(0, answers);
    std::chrono::steady_clock::time_point now{};
    natpmp.engine->natpmp().announce_port = 0;
    natpmp.engine->natpmp().set_clock([&now] { return now; });
    natpmp.engine->search({});
    EXPECT_TRUE(natpmp.engine->check({"", "UDP", "9", "", "9", ""}).held);
    now += std::chrono::seconds(100);
    announce(natpmp.engine->announcements(), natpmp.natpmp->address,
             "\x02\x80\0\0\0\0\0\0\0\0\0\0"s + std::string(12, '\0'));
    EXPECT_TRUE(natpmp.engine->restarted(why));
    EXPECT_EQ(why, "its epoch went from 1 to 0 in 100 s");
}
