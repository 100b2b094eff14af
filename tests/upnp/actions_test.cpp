// The control actions: their bytes on the wire, their verdicts, leases, and the receive loop.
#include "harness.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <tuple>

TEST_F(Client, EachActionOnTheWireAndItsVerdict) {
    nat.timings.read_wait_ms = 5000; // only the peer's close can end an answer without marker
    MappingRecord record;
    std::string address;
    const std::pair<std::string, std::function<bool()>> actions[] = {
        {"AddPortMapping",
         [&] { return nat.add_port_mapping("web", "192.168.1.20", 8080, 80, "tcp"); }},
        {"DeletePortMapping", [&] { return nat.del_port_mapping(8080, "tcp"); }},
        {"GetExternalIPAddress", [&] { return nat.get_external_ip(address); }},
        {"GetSpecificPortMappingEntry",
         [&] { return nat.get_specific_port_mapping(8080, "tcp", record); }},
    };
    const std::string out = entry(8080) + "<NewExternalIPAddress>1.2.3.4</NewExternalIPAddress>";
    for (const auto& [action, call] : actions) {
        // Only status 200 with the action's own response element is success.
        const std::tuple<fakerouter::Rule, Failure, int> answers[] = {
            {{{}, reply(action, out)}, Failure::none, 0},
            {{{}, fault(718, "ConflictInMappingEntry", "200 OK")}, Failure::refused, 718},
            {{{}, fault(501, "ActionFailed")}, Failure::refused, 501},
            {{{}, http("<html>200 OK</html>", "500 Internal Server Error")}, Failure::refused, 0},
            {{{}, reply(action), 0, 0, 0}, Failure::unreachable, 0}, // closed, not a byte
            {{{}, reply("Other", out)}, Failure::bad_answer, 0},
        };
        for (const auto& [rule, failure, code] : answers) {
            router.on_http(rule);
            EXPECT_EQ(call(), failure == Failure::none) << action;
            EXPECT_EQ(nat.failure, failure) << action << " " << rule.answer;
            EXPECT_EQ(nat.upnp_error_code, code);
            EXPECT_EQ(nat.tcp_socket, -1);
        }
        // The v1 envelopes keep their sizes of old: 626, 412 and 312 bytes.
        EXPECT_EQ(asked(action).at(0), router.file("request-" + action + ".txt"));
    }
    EXPECT_EQ(address, "1.2.3.4");
    EXPECT_EQ(record, (MappingRecord{"web", "TCP", "8080", "192.168.1.20", "8080", "3600"}));
    EXPECT_EQ(record.lease_duration, "3600"); // the one field that == leaves out
}

TEST_F(Client, LeaseOfEitherServiceAndThePermanentOnlyRetry) {
    char folder[] = "/tmp/quaymap-log-XXXXXX";
    nat.log_folder = ::mkdtemp(folder);
    on("AddPortMapping", reply("AddPortMapping"));
    const auto add = [this](int64_t lease) {
        return nat.add_port_mapping("R&D's \"a\" <b>", "192.168.1.20", 27015, 27015, "udp", lease);
    };
    ASSERT_TRUE(add(3600));
    EXPECT_EQ(nat.last_lease, 3600u);
    nat.service_type = SERVICE_WANIP2;
    on("AddPortMapping", fault(725, "OnlyPermanentLeasesSupported"), {"604800</NewLease"});
    ASSERT_TRUE(add(-1));
    EXPECT_EQ(nat.last_lease, 0u);
    // Lease 0, the protocol in capitals, the description escaped.
    EXPECT_EQ(asked("AddPortMapping").at(2), router.file("request-AddPortMapping-retry.txt"));
    // The log holds the retry's answer, replaced whole: no half-written file is left about.
    std::ifstream in(nat.log_folder + "/quaymap.log", std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), reply("AddPortMapping"));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(nat.log_folder), {}), 1);
    // A permanent lease refused as such is not asked again.
    on("AddPortMapping", fault(725, "OnlyPermanentLeasesSupported"));
    EXPECT_FALSE(add(0));
    EXPECT_EQ(asked("AddPortMapping").size(), 4u);
    std::filesystem::remove_all(nat.log_folder);
}
