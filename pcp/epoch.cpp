#include "pcp_wire.h"

#include <random>

namespace pcp_wire {

bool Epoch::observe(uint32_t epoch, Clock::time_point at) {
    const bool first = !known_;
    const int64_t server_delta = int64_t{epoch} - server_;
    const int64_t client_delta =
        std::chrono::duration_cast<std::chrono::seconds>(at - client_).count();
    known_ = true;
    server_ = epoch;
    client_ = at;
    if (first)
        return true;
    // Up to a second back is reordering on the way, and the two clocks may drift by a sixteenth
    // (plus two seconds of rounding) without meaning anything.
    if (server_delta < -1)
        return false;
    return client_delta + 2 >= server_delta - server_delta / 16 &&
           server_delta + 2 >= client_delta - client_delta / 16;
}

uint32_t renewal_delay(uint32_t lifetime) {
    static thread_local std::minstd_rand draw{std::random_device{}()};
    const uint32_t half = lifetime / 2;
    return half + std::uniform_int_distribution<uint32_t>(0, lifetime / 8)(draw);
}

} // namespace pcp_wire
