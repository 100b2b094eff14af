#include "keep.h"

#include "keep_file.h"
#include "rules.h"
#include "terminal.h"

#include <algorithm>
#include <csignal>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

namespace quaymap_cli {

namespace {

sigset_t stop_signals() {
    sigset_t stop;
    sigemptyset(&stop);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stop, signal);
    return stop;
}

// What the record holds for the router: mappings kept from the window, which a keeper keeps
// too (never its own to delete), and those that this keep file held when the keep last ran.
std::vector<quaymap::Kept> recorded(quaymap::Engine& engine, const std::string& file,
                                    bool of_file) {
    std::vector<quaymap::Kept> found;
    for (const quaymap::RecordEntry& e : engine.recorded()) {
        if (!e.kept || (of_file ? e.keeper != file : !e.keeper.empty()))
            continue;
        quaymap::Kept kept;
        kept.request = {e.name,      e.external_port,   e.internal_port,
                        e.transport, e.internal_client, e.lease > 0 ? e.lease : -1};
        kept.request.keep = true;
        kept.request.keep_file = e.keeper;
        kept.owned = of_file;
        if (of_file)
            kept.granted = quaymap::Mapping{e.name,
                                            e.transport,
                                            std::to_string(e.external_port),
                                            e.internal_client,
                                            std::to_string(e.internal_port),
                                            std::to_string(e.lease)};
        found.push_back(kept);
    }
    return found;
}

} // namespace

void hold_stop_signals() {
    const sigset_t stop = stop_signals();
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
}

KeepTime signal_time(bool hangup_reloads) {
    KeepTime time;
    time.keeper = quaymap::system_keeper_time();
    time.wait = [hangup_reloads](std::optional<Clock::time_point> until, int fd) {
        static const int signals = [] {
            const sigset_t stop = stop_signals();
            return ::signalfd(-1, &stop, SFD_CLOEXEC);
        }();
        pollfd ready[2] = {{signals, POLLIN, 0}, {fd, POLLIN, 0}};
        int ms = -1;
        if (until) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(*until - Clock::now());
            ms = static_cast<int>(std::clamp<long long>(left.count(), 0, 24 * 3600 * 1000));
        }
        // An interrupted wait is a wait that came to its end early.
        if (::poll(ready, fd >= 0 ? 2 : 1, ms) <= 0)
            return Wake::due;
        if (ready[0].revents & POLLIN) {
            signalfd_siginfo info{};
            if (::read(signals, &info, sizeof info) == sizeof info && info.ssi_signo == SIGHUP &&
                hangup_reloads)
                return Wake::reload;
            return Wake::stop;
        }
        return Wake::sign;
    };
    time.stop_pending = [hangup_reloads] {
        sigset_t pending;
        sigpending(&pending);
        return sigismember(&pending, SIGINT) == 1 || sigismember(&pending, SIGTERM) == 1 ||
               (!hangup_reloads && sigismember(&pending, SIGHUP) == 1);
    };
    return time;
}

quaymap::Keeper::Options keep_options(const KeepTime& time, bool search_again) {
    return {60, search_again, time.stop_pending};
}

int keep_mappings(quaymap::Keeper& keeper, quaymap::Engine& engine, const KeepTime& time,
                  const std::function<std::optional<std::vector<quaymap::Kept>>()>& reload) {
    ServiceNotice service;
    bool ready = false;
    Clock::time_point pinged = time.keeper.now();
    for (;;) {
        if (time.stop_pending()) {
            // Taken, so that it does not stay pending behind the keep.
            while (time.wait(time.keeper.now(), -1) == Wake::reload) {
            }
            break;
        }
        Clock::time_point next = keeper.step();
        if (!ready)
            service.ready(keeper.status());
        else
            service.status(keeper.status());
        ready = true;
        const auto every = service.watchdog_every();
        if (every.count() > 0) {
            if (time.keeper.now() >= pinged + every) {
                service.watchdog();
                pinged = time.keeper.now();
            }
            next = std::min(next, pinged + every);
        }
        const bool forever = next == Clock::time_point::max();
        const Wake woke =
            time.wait(forever ? std::nullopt : std::optional(next), engine.announcements());
        if (woke == Wake::stop)
            break;
        if (woke == Wake::reload && reload)
            if (const auto mappings = reload())
                keeper.hold(*mappings);
    }
    service.stopping();
    keeper.release();
    return 0;
}

int keep_file(quaymap::Engine& engine, const quaymap::SearchOutcome& router,
              const std::string& file, const KeepTime& time) {
    const std::string whole = whole_path(file);
    quaymap::Keeper keeper(engine, time.keeper, keep_options(time, true), {complain, {}, {}});
    if (router.kind == quaymap::RouterKind::none)
        keeper.router_gone(router.reason.empty() ? "No router was found." : router.reason);
    const auto mappings = [&]() -> std::optional<std::vector<quaymap::Kept>> {
        std::vector<quaymap::Kept> read;
        std::string why;
        if (!read_keep_file(file, read, why)) {
            complain(why + "; the mappings kept stay as they were");
            return std::nullopt;
        }
        for (const quaymap::Kept& kept : recorded(engine, whole, false))
            if (std::none_of(read.begin(), read.end(), [&](const quaymap::Kept& k) {
                    return quaymap::Keeper::key(k.request) == quaymap::Keeper::key(kept.request);
                }))
                read.push_back(kept);
        return read;
    };
    // What this file kept when the keep last ran and holds no more is deleted.
    keeper.hold(recorded(engine, whole, true));
    const auto held = mappings();
    if (!held)
        return quaymap::kExitUsage;
    keeper.hold(*held);
    return keep_mappings(keeper, engine, time, mappings);
}

} // namespace quaymap_cli
