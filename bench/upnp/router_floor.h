// The router's own floor for a listing: each exchange the listing needs, timed raw, back to
// back. No client can list the table sooner.
#pragma once

#include <cstddef>
#include <string>

struct Floor {
    double ms = 0, ssdp_ms = 0, description_ms = 0;
    int exchanges = 0;
    size_t entries = 0;
    bool ok = false;
};

struct FloorPlan {
    std::string desc_url, control_url, service;
    bool v2 = false;    // the service offers GetListOfPortMappings
    bool search = true; // the listing starts with SSDP (not so with a known URL)
};

// SSDP (when the plan searches), the description, then on v1 every index up to the refused
// one; on v2 the look at index 128 and, when it holds nothing, the GetListOfPortMappings pages
// (TCP, then UDP, a further page only behind a full one), else the index walk.
Floor router_floor(const FloorPlan& plan);
