// Keeping mappings alive: renewed before their lease ends until the process is asked to stop,
// then deleted.
#pragma once

#include "Engine.h"
#include "output.h"

#include <chrono>
#include <functional>
#include <optional>
#include <vector>

namespace quaymap_cli {

using Clock = std::chrono::steady_clock;

// The keep's clock and its stop; tests give their own. Renewals are timed on a monotonic clock,
// so a change of the wall clock moves none.
struct KeepTime {
    std::function<Clock::time_point()> now;
    // Waits for a stop until the moment (or for as long as it takes); true when one came.
    std::function<bool(std::optional<Clock::time_point>)> wait_for_stop;
    // Whether a stop has come; it is not taken.
    std::function<bool()> stop_pending;
};
// Over SIGINT, SIGTERM and SIGHUP, which hold_stop_signals() must have held.
KeepTime signal_time();

// From now on the stop signals wait for the keep in this thread, and in the threads it starts,
// instead of ending the process with mappings left on the router.
void hold_stop_signals();

// Returns once a stop has come and the mappings have been deleted; the exit status is that of the
// deletes. Once a stop is pending no renewal starts.
int keep_mappings(quaymap::Engine& engine, std::vector<Step>& steps, const KeepTime& time);
// Deletes the mappings that the steps added; the exit status of the deletes.
int take_back(quaymap::Engine& engine, const std::vector<Step>& steps);

} // namespace quaymap_cli
