// pcp/PcpListener.h — the router's unsolicited PCP announcements (an ANNOUNCE answer that it
// multicasts to 224.0.0.1 and ff02::1, port 5350, as it starts or its external address changes).
// Qt-free; non-blocking sockets that the caller polls. Not thread-safe: one thread per object.
#pragma once

#include "pcp_wire.h"

#include <cstdint>
#include <string>
#include <vector>

struct PcpAnnouncement {
    std::string from; // the router's address, as numeric text
    uint32_t epoch = 0;
};

class PcpListener {
  public:
    PcpListener() = default;
    ~PcpListener() { close(); }
    PcpListener(const PcpListener&) = delete;
    PcpListener& operator=(const PcpListener&) = delete;

    // Listens on `port` over IPv4 and IPv6, beside any other listener of this computer; true
    // when at least one of the two could open. `port`: tests only.
    bool open(uint16_t port = pcp_wire::kAnnouncementPort);
    void close();
    // The sockets to poll for POLLIN (none when not open).
    std::vector<int> fds() const;

    // Only announcements from these addresses count (numeric text; a link-local one without its
    // scope), and always only from the router's PCP port; none given: from any router.
    void expect(std::vector<std::string> gateways, uint16_t port = pcp_wire::kServerPort);
    // Reads what waits, without blocking: true with the next announcement that counts; false
    // when none is left. Anything else on the port is dropped.
    bool take(PcpAnnouncement& announcement);

  private:
    int sockets_[2] = {-1, -1};
    std::vector<pcp_wire::Address> gateways_;
    uint16_t gateway_port_ = pcp_wire::kServerPort;
};
