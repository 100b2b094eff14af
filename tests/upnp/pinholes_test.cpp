// IPv6 pinholes: the router found over IPv6, its firewall's actions on the wire and their verdicts.
#include "harness.h"

#include <functional>
#include <tuple>

TEST_F(Client, PinholesGoToTheFirewallOverIpv6FromTheAddressTheyOpen) {
    fakerouter::FakeRouter v6("::1");
    nat.ssdp_address = "::1";
    nat.ssdp_port = v6.ssdp_port;
    v6.on_ssdp({{"InternetGatewayDevice:2"},
                v6.file("ssdp-answer.txt", {{"@LOCATION@", v6.url("/rootDesc.xml")}})});
    v6.on_http(
        {{"GET /rootDesc.xml"},
         http(v6.file("rootDesc.xml",
                      {{"@1@", "2"}, {"@2@", "2"}, {"@3@", "2"}, {"@S@", "WANIPConnection:2"}}))});
    ASSERT_TRUE(nat.discovery());
    EXPECT_EQ(nat.control_url + " " + nat.firewall_control_url,
              v6.url("/ctl/IPConn") + " " + v6.url("/ctl/IP6FCtl"));
    EXPECT_TRUE(has(v6.datagrams().at(0), "\r\nHOST:[FF02::C]:1900\r\n"));
    nat.firewall_source = "::1";
    bool enabled = false, allowed = false;
    uint16_t id = 0;
    const std::pair<std::string, std::function<bool()>> actions[] = {
        {"AddPinhole", [&] { return nat.add_pinhole("::1", 4100, 6, 100000, id, "<any>"); }},
        {"UpdatePinhole", [&] { return nat.update_pinhole(7, 0); }},
        {"DeletePinhole", [&] { return nat.delete_pinhole(7); }},
        {"GetFirewallStatus", [&] { return nat.get_firewall_status(enabled, allowed); }},
    };
    const std::string out = "<UniqueID>7</UniqueID><FirewallEnabled>1</FirewallEnabled>"
                            "<InboundPinholeAllowed>true</InboundPinholeAllowed>";
    for (const auto& [action, call] : actions) {
        const std::tuple<std::string, Failure, int> answers[] = {
            {reply(action, out), Failure::none, 0},
            {fault(606, "Action not authorized"), Failure::refused, 606},
            {reply("Other", out), Failure::bad_answer, 0},
        };
        for (const auto& [answer, failure, code] : answers) {
            v6.on_http({{"#" + action + "\""}, answer});
            EXPECT_EQ(call(), failure == Failure::none) << action;
            EXPECT_EQ(std::make_pair(nat.failure, nat.upnp_error_code),
                      std::make_pair(failure, code))
                << action;
        }
        // Arguments escaped, the lease within 1 to 86400 s, the host in brackets.
        EXPECT_EQ(v6.requests().at(v6.requests().size() - 3),
                  v6.file("request-" + action + ".txt"));
    }
    EXPECT_TRUE(id == 7 && enabled && allowed);
    v6.on_http({{"#AddPinhole\""}, reply("AddPinhole", "<UniqueID>70000</UniqueID>")});
    EXPECT_TRUE(!nat.add_pinhole("::1", 4100, 17, 3600, id) && nat.failure == Failure::bad_answer);
    // A source this computer does not have: nothing is sent, at once.
    const std::size_t sent = v6.requests().size();
    nat.firewall_source = "2001:db8::99";
    EXPECT_FALSE(nat.delete_pinhole(7));
    EXPECT_EQ(std::make_pair(nat.failure, v6.requests().size()),
              std::make_pair(Failure::unreachable, sent));
    nat.firewall_control_url.clear();
    EXPECT_FALSE(nat.get_firewall_status(enabled, allowed));
    EXPECT_EQ(nat.last_error, "The router offers no IPv6 firewall control.\n");
}
