// This computer's own address on the network that leads to a host.
#pragma once

#include <string>
#include <vector>

namespace quaymap {

// The local IPv4 address the system would send from to reach the host (a dotted-decimal
// address), found by connecting a UDP socket, which sends nothing. Empty when there is none.
std::string local_address_towards(const std::string& host);

// One IPv6 address of this computer, as the kernel lists it in /proc/net/if_inet6.
struct Ipv6Address {
    std::string address;
    std::string interface;
    // Global and stable: neither temporary (privacy), deprecated, tentative nor failed, and
    // neither link-local, unique local (fc00::/7), loopback nor IPv4-mapped. A pinhole for any
    // other address would soon lead nowhere, or never could be reached from outside.
    bool stable_global = false;
};
std::vector<Ipv6Address> ipv6_addresses(const std::string& if_inet6);

// The stable global address on `interface` (empty: on any): `preferred` when it is one there,
// else the first one; empty when there is none.
std::string stable_global_ipv6(const std::vector<Ipv6Address>& addresses,
                               const std::string& interface, const std::string& preferred);

// This computer's stable global IPv6 address on the interface that leads to the router (its
// numeric IPv4 or IPv6 address, "fe80::1%eth0" for a link-local one): the address the system
// would send from when that is a stable one, else the first stable one there. Empty when there
// is none.
std::string global_ipv6_towards(const std::string& router);

} // namespace quaymap
