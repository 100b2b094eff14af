// Keeping mappings open from the command line (keep FILE, add --keep): the engine's keeper,
// stepped until a stop, waiting in between on the monotonic clock, the router's announcements
// and the signals, and telling systemd how it goes when it runs as a service.
#pragma once

#include "Engine.h"
#include "keeper.h"
#include "service.h"

#include <functional>
#include <optional>
#include <vector>

namespace quaymap_cli {

using Clock = quaymap::KeeperClock;

// What ended a wait.
enum class Wake { due, sign, reload, stop };

// The keep's clock, chance, waits and stop; tests give their own.
struct KeepTime {
    quaymap::KeeperTime keeper;
    // Waits until the moment (none: for as long as it takes), for the router's announcements on
    // `fd` (-1: none), or for a signal.
    std::function<Wake(std::optional<Clock::time_point> until, int fd)> wait;
    // Whether a stop has come; it is not taken.
    std::function<bool()> stop_pending;
};
// Over the process's clock and chance, and SIGINT, SIGTERM and SIGHUP, which hold_stop_signals()
// must have held. SIGHUP is a stop too unless `hangup_reloads`.
KeepTime signal_time(bool hangup_reloads = false);

// From now on the stop signals wait for the keep in this thread, and in the threads it starts,
// instead of ending the process with mappings left on the router.
void hold_stop_signals();

// The keeper's options on the command line: each mapping checked every minute; with
// `search_again`, a router that went silent is searched for again.
quaymap::Keeper::Options keep_options(const KeepTime& time, bool search_again);

// Steps the keeper and waits, until a stop; then deletes what it owns. On SIGHUP `reload` gives
// the mappings to keep from then on (nothing: those held stay). Exit status 0.
int keep_mappings(quaymap::Keeper& keeper, quaymap::Engine& engine, const KeepTime& time,
                  const std::function<std::optional<std::vector<quaymap::Kept>>()>& reload = {});

// quaymap-cli keep FILE, on the router of `router` (none found: searched for again).
int keep_file(quaymap::Engine& engine, const quaymap::SearchOutcome& router,
              const std::string& file, const KeepTime& time);

} // namespace quaymap_cli
