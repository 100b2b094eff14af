// Drives the UPnP client's IPv6 pinholes by hand against a real router (the lab's):
//   pinhole_probe ROUTER [--from ADDRESS] status
//   pinhole_probe ROUTER [--from ADDRESS] add ADDRESS PORT tcp|udp LEASE
//   pinhole_probe ROUTER [--from ADDRESS] update ID LEASE
//   pinhole_probe ROUTER [--from ADDRESS] delete ID
// ROUTER: a description URL, or "ssdp6" (found by SSDP over IPv6, ff02::c) or "ssdp4".
// --from auto: this computer's stable global IPv6 address toward the router.
#include "UpnpNat.h"
#include "lan_address.h"

#include <cstdio>
#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3)
        return std::puts("usage: pinhole_probe ROUTER [--from ADDRESS] status|add|update|delete"),
               2;
    UpnpNat nat;
    nat.console = nullptr;
    nat.log = [](const std::string& line) { std::printf("log: %s\n", line.c_str()); };
    nat.init(3);
    const std::string router = argv[1];
    int arg = 2;
    if (std::string(argv[arg]) == "--from" && arg + 2 < argc) {
        nat.firewall_source = argv[arg + 1];
        arg += 2;
    }
    if (router == "ssdp6")
        nat.ssdp_address = "ff02::c";
    const bool found =
        router.compare(0, 4, "ssdp") == 0 ? nat.discovery() : nat.open_description(router);
    if (!found)
        return std::printf("no router: %s", nat.last_error.c_str()), 1;
    if (nat.firewall_source == "auto")
        nat.firewall_source = quaymap::global_ipv6_towards(nat.routers.at(0).address);
    std::printf("router %s, firewall at %s, from %s\n", nat.describe_url.c_str(),
                nat.firewall_control_url.c_str(), nat.firewall_source.c_str());
    const std::string command = argv[arg];
    const auto number = [&](int i) { return i < argc ? std::strtoul(argv[i], nullptr, 10) : 0; };
    bool ok = false;
    if (command == "status") {
        bool enabled = false, allowed = false;
        if ((ok = nat.get_firewall_status(enabled, allowed)))
            std::printf("firewall %s, pinholes %s\n", enabled ? "on" : "off",
                        allowed ? "allowed" : "not allowed");
    } else if (command == "add" && arg + 4 < argc) {
        uint16_t id = 0;
        const int protocol = std::string(argv[arg + 3]) == "udp" ? 17 : 6;
        if ((ok = nat.add_pinhole(argv[arg + 1], static_cast<uint16_t>(number(arg + 2)), protocol,
                                  static_cast<uint32_t>(number(arg + 4)), id)))
            std::printf("pinhole %u for %u s\n", id, nat.last_lease);
    } else if (command == "update") {
        ok = nat.update_pinhole(static_cast<uint16_t>(number(arg + 1)),
                                static_cast<uint32_t>(number(arg + 2)));
    } else if (command == "delete") {
        ok = nat.delete_pinhole(static_cast<uint16_t>(number(arg + 1)));
    }
    if (!ok)
        std::printf("failed: %s   router's code %d %s\n", nat.last_error.c_str(),
                    nat.upnp_error_code, nat.upnp_error_description.c_str());
    else
        std::puts("done");
    return ok ? 0 : 1;
}
