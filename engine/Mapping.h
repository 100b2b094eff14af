// A port mapping as the engine hands it to the window and the command line: what the router
// holds, each field as the router wrote it.
#pragma once

#include <cstdint>
#include <string>

namespace quaymap {

struct Mapping {
    std::string description;
    std::string protocol;
    std::string external_port;
    std::string internal_client;
    std::string internal_port;
    // Seconds left as the router wrote them ("0": permanent); empty when it gave none.
    std::string lease_duration;

    // The lease is left out: it ticks down between two readings of one mapping.
    bool operator==(const Mapping& other) const {
        return description == other.description && protocol == other.protocol &&
               external_port == other.external_port && internal_client == other.internal_client &&
               internal_port == other.internal_port;
    }
    bool operator!=(const Mapping& other) const { return !(*this == other); }
};

// What a listing could not read, and why: one entry of the table, or the rest of a protocol's
// ports.
struct Unread {
    int index = -1;       // the entry's place in the router's table (0 first); -1: a range
    std::string protocol; // a range: its protocol and its first port (it runs to 65535)
    uint32_t first_port = 0;
    // "501 Action Failed", "HTTP 404 Not Found", "an answer that cannot be read"
    std::string reason;
};

} // namespace quaymap
