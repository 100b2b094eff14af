// State the whole process shares: what the router search found, the NAT-PMP handle, and the one
// lock that keeps two router operations from overlapping.
#pragma once

#include <atomic>
#include <mutex>
#include <natpmp.h>

// Set by the router search once a router of either kind has answered; never cleared.
extern std::atomic<bool> router_found;
// Set by the router search when the router answered NAT-PMP (an AirPort base station).
extern std::atomic<bool> apple_router;

// The NAT-PMP handle and the latest answer, used by the search and the AirPort commands.
extern natpmp_t natpmp_handle;
extern natpmpresp_t natpmp_response;

// Held for the whole of each operation on the UPnP client or the NAT-PMP handle.
std::mutex& client_mutex();
