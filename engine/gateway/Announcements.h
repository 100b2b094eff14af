// A socket that hears a router's own announcements to a multicast group: SSDP's NOTIFY on
// 239.255.255.250:1900, NAT-PMP's and PCP's on 224.0.0.1:5350. Nothing is sent but the group
// membership. One thread at a time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quaymap {

class Announcements {
  public:
    // `interface`: this computer's address on the router's network, where the group is joined.
    Announcements(std::string group, uint16_t port, std::string interface);
    ~Announcements();
    Announcements(const Announcements&) = delete;
    Announcements& operator=(const Announcements&) = delete;

    // The socket, opened at the first call; -1 when it cannot be (`why` says why, once). Where
    // the group is no multicast address or the interface a loopback one (a test's router), the
    // socket listens on the group's address itself and joins nothing.
    int fd(std::string& why);
    // Each datagram waiting from `sender`'s address, at once.
    std::vector<std::string> take(const std::string& sender);

  private:
    const std::string group_, interface_;
    const uint16_t port_;
    int fd_ = -1;
    bool tried_ = false;
};

} // namespace quaymap
