#include "keep.h"

#include "explain.h"
#include "rules.h"
#include "steps.h"
#include "terminal.h"

#include <algorithm>
#include <csignal>
#include <cstdlib>
#include <ctime>

namespace quaymap_cli {

namespace {

sigset_t stop_signals() {
    sigset_t stop;
    sigemptyset(&stop);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaddset(&stop, signal);
    return stop;
}

std::optional<Clock::time_point> due_after(const quaymap::Mapping& row, Clock::time_point now) {
    const long delay = quaymap::renewal_delay_s(row, 0);
    if (delay < 0)
        return std::nullopt;
    return now + std::chrono::seconds(delay);
}

} // namespace

void hold_stop_signals() {
    const sigset_t stop = stop_signals();
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);
}

KeepTime signal_time() {
    KeepTime time;
    time.now = [] { return Clock::now(); };
    time.wait_for_stop = [](std::optional<Clock::time_point> until) {
        const sigset_t stop = stop_signals();
        if (!until) {
            int signal = 0;
            return sigwait(&stop, &signal) == 0;
        }
        const auto left = std::max(Clock::duration::zero(), *until - Clock::now());
        const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(left);
        const timespec wait{static_cast<std::time_t>(seconds.count()),
                            static_cast<long>((left - seconds) / std::chrono::nanoseconds(1))};
        // sigtimedwait measures its time on the monotonic clock too; an interrupted or timed-out
        // wait is no stop.
        return sigtimedwait(&stop, nullptr, &wait) > 0;
    };
    time.stop_pending = [] {
        sigset_t pending;
        sigpending(&pending);
        for (const int signal : {SIGINT, SIGTERM, SIGHUP})
            if (sigismember(&pending, signal) == 1)
                return true;
        return false;
    };
    return time;
}

int keep_mappings(quaymap::Engine& engine, std::vector<Step>& steps, const KeepTime& time) {
    std::vector<std::optional<Clock::time_point>> due;
    for (const Step& step : steps)
        due.push_back(due_after(step.result.row, time.now()));
    for (;;) {
        std::optional<Clock::time_point> next;
        for (const auto& at : due)
            if (at && (!next || *at < *next))
                next = at;
        if (time.wait_for_stop(next))
            break;
        for (std::size_t i = 0; i < steps.size(); ++i) {
            const Clock::time_point now = time.now();
            if (!due[i] || *due[i] > now)
                continue;
            // A renewal against a silent router takes an exchange's time: none starts once a
            // stop has come.
            if (time.stop_pending())
                return take_back(engine, steps);
            Step& step = steps[i];
            const quaymap::CommandResult renewed = engine.renew(step.result.row);
            if (renewed.ok()) {
                step.result.row = renewed.row;
                complain("renewed " + step_port(step) + " (lease " +
                         quaymap::lease_text(renewed.row.lease_duration) + ")");
                due[i] = due_after(renewed.row, time.now());
            } else {
                complain(step_port(step) + ": " + renewed.message);
                const long retry = quaymap::renewal_retry_s(renewed.verdict);
                due[i] = retry < 0 ? std::nullopt
                                   : std::optional(time.now() + std::chrono::seconds(retry));
            }
        }
    }
    return take_back(engine, steps);
}

int take_back(quaymap::Engine& engine, const std::vector<Step>& steps) {
    int status = 0;
    for (const Step& step : steps) {
        if (!step.result.ok())
            continue;
        const quaymap::CommandResult removed = engine.remove(step.result.row);
        if (removed.ok()) {
            complain("deleted " + step_port(step));
        } else {
            complain(step_port(step) + ": " + removed.message);
            status = quaymap::exit_status(removed.verdict);
        }
    }
    return status;
}

} // namespace quaymap_cli
