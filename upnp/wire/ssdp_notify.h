// A router's own SSDP announcements (NOTIFY to 239.255.255.250:1900): an ssdp:alive as it starts
// and every few minutes, an ssdp:byebye as it stops. A restarted router announces a new
// BOOTID.UPNP.ORG. Pure texts, for tests and the fuzzer.
#pragma once

#include <string>

namespace upnp_wire {

// The value of a header of an SSDP datagram (its name in any case), without the blanks around
// it; false when the datagram has no such header.
bool ssdp_header(const std::string& datagram, const std::string& name, std::string& value);

struct SsdpNotice {
    bool alive = false;  // ssdp:alive; else ssdp:byebye
    std::string boot_id; // BOOTID.UPNP.ORG; empty when the router gives none
    std::string location;
};
// The notice a NOTIFY datagram carries; false for any other datagram (a search, an answer, an
// ssdp:update).
bool ssdp_notice_of(const std::string& datagram, SsdpNotice& notice);

} // namespace upnp_wire
