#pragma once

#include <string>

// One port mapping exactly as the gateway reported it; every field is kept as text.
struct MappingRecord {
    std::string description;
    std::string protocol;
    std::string external_port;
    std::string internal_client;
    std::string internal_port;
    // Seconds left as the router wrote them ("0": permanent); empty when it gave none.
    std::string lease_duration;

    // The lease is left out: it ticks down between two readings of one mapping.
    bool operator==(const MappingRecord& other) const {
        return description == other.description && protocol == other.protocol &&
               external_port == other.external_port && internal_client == other.internal_client &&
               internal_port == other.internal_port;
    }
    bool operator!=(const MappingRecord& other) const { return !(*this == other); }
};
