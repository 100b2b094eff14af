#include "keep.h"

#include "explain.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <ctime>

namespace quaymap_cli {

namespace {

constexpr long kDay = 24 * 3600;
// A renewal that failed is tried again after this long.
constexpr long kRetry = 60;

} // namespace

long renewal_delay(const MappingRecord& row) {
    const long long lease = std::atoll(row.lease_duration.c_str());
    if (lease <= 0)
        return -1;
    return std::clamp<long>(static_cast<long>(lease / 2), 1, kDay);
}

int keep_mappings(quaymap::Engine& engine, std::vector<Step>& steps) {
    sigset_t stop;
    sigemptyset(&stop);
    sigaddset(&stop, SIGINT);
    sigaddset(&stop, SIGTERM);
    sigaddset(&stop, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stop, nullptr);

    std::vector<std::time_t> due(steps.size());
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const long delay = renewal_delay(steps[i].result.row);
        due[i] = delay < 0 ? 0 : std::time(nullptr) + delay;
    }
    for (;;) {
        std::time_t next = 0;
        for (std::time_t t : due)
            if (t != 0 && (next == 0 || t < next))
                next = t;
        int signal = 0;
        if (next == 0) {
            sigwait(&stop, &signal);
        } else {
            const std::time_t now = std::time(nullptr);
            timespec wait{next > now ? next - now : 0, 0};
            signal = sigtimedwait(&stop, nullptr, &wait);
            if (signal < 0 && errno != EAGAIN && errno != EINTR)
                break;
        }
        if (signal > 0)
            break;
        const std::time_t now = std::time(nullptr);
        for (std::size_t i = 0; i < steps.size(); ++i) {
            if (due[i] == 0 || due[i] > now)
                continue;
            Step& step = steps[i];
            const quaymap::CommandResult renewed = engine.renew(step.result.row);
            if (renewed.ok()) {
                step.result.row = renewed.row;
                std::fprintf(stderr, "renewed %u/%s (lease %s)\n", step.external_port,
                             step.protocol.c_str(),
                             quaymap::lease_text(renewed.row.lease_duration).c_str());
                const long delay = renewal_delay(renewed.row);
                due[i] = delay < 0 ? 0 : now + delay;
            } else {
                std::fprintf(stderr, "%u/%s: %s\n", step.external_port, step.protocol.c_str(),
                             renewed.message.c_str());
                due[i] = now + kRetry;
            }
        }
    }
    int status = 0;
    for (const Step& step : steps) {
        const quaymap::CommandResult removed = engine.remove(step.result.row);
        if (removed.ok()) {
            std::fprintf(stderr, "deleted %u/%s\n", step.external_port, step.protocol.c_str());
        } else {
            std::fprintf(stderr, "%u/%s: %s\n", step.external_port, step.protocol.c_str(),
                         removed.message.c_str());
            status = removed.verdict == quaymap::Verdict::unreachable ? 4 : 1;
        }
    }
    return status;
}

} // namespace quaymap_cli
