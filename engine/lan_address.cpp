#include "lan_address.h"

#include <arpa/inet.h>
#include <fstream>
#include <ifaddrs.h>
#include <iterator>
#include <netdb.h>
#include <netinet/in.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace quaymap {

namespace {

// The address a UDP socket toward `host` would leave from, as text; empty when none would. The
// connection sends nothing.
std::string source_towards(const std::string& host, int family) {
    addrinfo hints{}, *found = nullptr;
    hints.ai_family = family;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    hints.ai_socktype = SOCK_DGRAM;
    if (::getaddrinfo(host.c_str(), "9", &hints, &found) != 0)
        return {};
    std::string result;
    const int fd = ::socket(found->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_storage local{};
    socklen_t length = sizeof local;
    char text[INET6_ADDRSTRLEN] = {};
    if (fd >= 0 && ::connect(fd, found->ai_addr, found->ai_addrlen) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
        ::getnameinfo(reinterpret_cast<sockaddr*>(&local), length, text, sizeof text, nullptr, 0,
                      NI_NUMERICHOST) == 0)
        result = text;
    if (fd >= 0)
        ::close(fd);
    ::freeaddrinfo(found);
    return result.substr(0, result.find('%'));
}

// The interface that holds an IPv4 address.
std::string interface_of(const std::string& address) {
    ifaddrs* all = nullptr;
    if (::getifaddrs(&all) != 0)
        return {};
    std::string name;
    char text[INET_ADDRSTRLEN];
    for (const ifaddrs* i = all; i != nullptr && name.empty(); i = i->ifa_next)
        if (i->ifa_addr != nullptr && i->ifa_addr->sa_family == AF_INET &&
            inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(i->ifa_addr)->sin_addr, text,
                      sizeof text) &&
            address == text)
            name = i->ifa_name;
    ::freeifaddrs(all);
    return name;
}

} // namespace

std::vector<Ipv6Address> ipv6_addresses(const std::string& if_inet6) {
    // Flags of the kernel's address (the low byte, as the file gives it).
    constexpr unsigned kTemporary = 0x01, kFailed = 0x08, kDeprecated = 0x20, kTentative = 0x40;
    constexpr unsigned kGlobalScope = 0x00;
    std::vector<Ipv6Address> found;
    std::istringstream lines(if_inet6);
    for (std::string line; std::getline(lines, line);) {
        std::istringstream fields(line);
        std::string hex, name;
        unsigned index = 0, prefix = 0, scope = 0, flags = 0;
        in6_addr address{};
        if (!(fields >> hex >> std::hex >> index >> prefix >> scope >> flags >> name) ||
            hex.size() != 32 || hex.find_first_not_of("0123456789abcdefABCDEF") != hex.npos)
            continue;
        for (int i = 0; i < 16; ++i)
            address.s6_addr[i] = static_cast<uint8_t>(std::stoi(hex.substr(2 * i, 2), nullptr, 16));
        char text[INET6_ADDRSTRLEN] = {};
        inet_ntop(AF_INET6, &address, text, sizeof text);
        const bool unique_local = (address.s6_addr[0] & 0xfe) == 0xfc;
        const bool stable = (flags & (kTemporary | kFailed | kDeprecated | kTentative)) == 0;
        found.push_back({text, name,
                         scope == kGlobalScope && stable && !unique_local &&
                             !IN6_IS_ADDR_LINKLOCAL(&address) && !IN6_IS_ADDR_LOOPBACK(&address) &&
                             !IN6_IS_ADDR_V4MAPPED(&address) &&
                             !IN6_IS_ADDR_UNSPECIFIED(&address)});
    }
    return found;
}

std::string stable_global_ipv6(const std::vector<Ipv6Address>& addresses,
                               const std::string& interface, const std::string& preferred) {
    std::string first;
    for (const Ipv6Address& a : addresses) {
        if (!a.stable_global || (!interface.empty() && a.interface != interface))
            continue;
        if (a.address == preferred)
            return a.address;
        if (first.empty())
            first = a.address;
    }
    return first;
}

std::string local_address_towards(const std::string& host) {
    in_addr dotted{};
    return inet_pton(AF_INET, host.c_str(), &dotted) == 1 ? source_towards(host, AF_INET) : "";
}

std::string global_ipv6_towards(const std::string& router) {
    std::ifstream file("/proc/net/if_inet6");
    const std::string text((std::istreambuf_iterator<char>(file)),
                           std::istreambuf_iterator<char>());
    const std::vector<Ipv6Address> addresses = ipv6_addresses(text);
    std::string interface, preferred;
    const std::string v4 = source_towards(router, AF_INET);
    if (!v4.empty()) {
        interface = interface_of(v4);
        // The source the system would take toward the internet's IPv6 addresses (a documentation
        // address stands for any of them; nothing is sent).
        preferred = source_towards("2001:db8::1", AF_INET6);
    } else {
        preferred = source_towards(router, AF_INET6);
        for (const Ipv6Address& a : addresses)
            if (a.address == preferred)
                interface = a.interface;
    }
    // No way to the router: no address can be said to face it.
    return interface.empty() ? std::string() : stable_global_ipv6(addresses, interface, preferred);
}

} // namespace quaymap
