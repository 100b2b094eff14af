// One mapping that QuayMap made through the engine, as its record keeps it: enough to show it,
// renew it, put it back and delete it, also on protocols that cannot list what a router holds.
#pragma once

#include <cstdint>
#include <string>

namespace quaymap {

struct RecordEntry {
    std::string router;   // the router's device UDN, else its address
    std::string protocol; // how it was made: "igd1", "igd2", "natpmp"
    uint16_t external_port = 0;
    uint16_t internal_port = 0;
    std::string transport; // "TCP" or "UDP"
    std::string internal_client;
    std::string name;
    int64_t lease = 0;     // seconds granted; 0: permanent
    int64_t lease_end = 0; // when the lease ends, in seconds since 1970; 0: permanent
    bool kept = false;     // kept open: renewed and put back whenever QuayMap or a keeper runs
    std::string keeper;    // the keep file that holds it; empty: kept from the window
    // What renewing or deleting needs where the router cannot be asked: PCP's mapping nonce (in
    // hex), an IPv6 pinhole's id.
    std::string nonce;
    std::string pinhole;

    // One mapping of one router: its port and transport there.
    bool same_mapping(const RecordEntry& other) const {
        return router == other.router && external_port == other.external_port &&
               transport == other.transport;
    }
};

} // namespace quaymap
