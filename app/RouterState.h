// What the router search found, for the whole process.
#pragma once

#include <atomic>

// Set on the main thread, together with the router's name, once a router of either kind has
// been found; never cleared.
extern std::atomic<bool> router_found;
// Set with router_found when the router answered NAT-PMP (an AirPort base station).
extern std::atomic<bool> apple_router;
