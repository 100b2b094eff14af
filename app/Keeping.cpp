#include "Keeping.h"

#include "Port_Entry.h"
#include "explain.h"
#include "log.h"
#include "rules.h"

#include <QSocketNotifier>
#include <QTimer>
#include <algorithm>
#include <ctime>

namespace {

QString markOf(bool kept) {
    return kept ? QStringLiteral("kept") : QStringLiteral("made here");
}

} // namespace

Keeping::Keeping(quaymap::Engine& engine, Background& background, Effects effects, QObject* parent)
    : QObject(parent), engine_(engine), background_(background), effects_(std::move(effects)),
      time_(quaymap::system_keeper_time()), timer_(new QTimer(this)) {
    timer_->setObjectName(QStringLiteral("keeper"));
    timer_->setSingleShot(true);
    connect(timer_, &QTimer::timeout, this, &Keeping::stepSoon);
}

// The lanes have stopped by now (the controller stops them first): the keeper is nobody's.
Keeping::~Keeping() = default;

void Keeping::stop() {
    ++session_;
    running_ = false;
    queued_ = false;
    background_.cancel(ticket_);
    timer_->stop();
    delete notifier_;
    notifier_ = nullptr;
}

void Keeping::start(bool asks_again) {
    stop();
    running_ = queued_ = true;
    const unsigned session = session_;
    background_.command(
        [this, asks_again, session] {
            keeper_ = std::make_unique<quaymap::Keeper>(
                engine_, time_, quaymap::Keeper::Options{0, false, {}},
                quaymap::Keeper::Hooks{
                    [](const std::string& line) { quaymap_log("%s", line.c_str()); },
                    [this](const quaymap::Mapping& row, const quaymap::AddRequest& request) {
                        granted_.emplace_back(row, markOf(request.keep));
                    },
                    {}});
            const int64_t now = static_cast<int64_t>(std::time(nullptr));
            std::vector<quaymap::Kept> held;
            QHash<QString, QString> marks;
            for (const quaymap::RecordEntry& e : engine_.recorded()) {
                quaymap::Kept kept;
                kept.request = {e.name,      e.external_port,   e.internal_port,
                                e.transport, e.internal_client, e.lease > 0 ? e.lease : -1};
                kept.request.keep = e.kept;
                kept.request.keep_file = e.keeper;
                const quaymap::Mapping row{e.name,
                                           e.transport,
                                           std::to_string(e.external_port),
                                           e.internal_client,
                                           std::to_string(e.internal_port),
                                           std::to_string(e.lease)};
                // What was only made here stays as the router listed it, until its renewal.
                if (!e.kept && !asks_again) {
                    kept.granted = row;
                    kept.granted_s =
                        e.lease_end > 0 ? std::max<int64_t>(0, e.lease - (e.lease_end - now)) : 0;
                }
                marks.insert(Port_Entry::keyOf(row), markOf(e.kept));
                held.push_back(kept);
            }
            keeper_->hold(held);
            const Background::Effect stepped = step(session);
            return [this, marks, stepped, session] {
                if (session != session_)
                    return;
                effects_.marks(marks);
                stepped();
            };
        },
        false);
}

void Keeping::added(const quaymap::AddRequest& request, const quaymap::Mapping& row) {
    if (!running_)
        return;
    quaymap::Kept kept;
    kept.request = request;
    // Named as the router holds it: a NAT-PMP gateway may grant another port than the one asked.
    quaymap::port_of(row.external_port, kept.request.external_port);
    kept.granted = row;
    effects_.marks({{Port_Entry::keyOf(row), markOf(request.keep)}});
    const unsigned session = session_;
    queued_ = true;
    ticket_ = background_.command(
        [this, kept, session] {
            if (keeper_)
                keeper_->hold_one(kept);
            return step(session);
        },
        false);
}

void Keeping::deleted(const quaymap::Mapping& row) {
    if (keeper_)
        keeper_->drop(row.external_port + "/" + quaymap::protocol_name(row.protocol));
}

void Keeping::stepSoon() {
    if (!running_ || queued_)
        return;
    queued_ = true;
    if (notifier_)
        notifier_->setEnabled(false);
    const unsigned session = session_;
    ticket_ = background_.command([this, session] { return step(session); }, false);
}

Background::Effect Keeping::step(unsigned session) {
    const quaymap::KeeperClock::time_point next =
        keeper_ ? keeper_->step() : quaymap::KeeperClock::time_point::max();
    const int fd = keeper_ ? engine_.announcements() : -1;
    std::vector<std::pair<quaymap::Mapping, QString>> granted;
    granted.swap(granted_);
    return [this, next, fd, granted, session] {
        if (session != session_)
            return;
        queued_ = false;
        for (const auto& [row, mark] : granted)
            effects_.granted(row, mark);
        apply(next, fd);
    };
}

void Keeping::apply(quaymap::KeeperClock::time_point next, int fd) {
    if (next == quaymap::KeeperClock::time_point::max()) {
        timer_->stop();
    } else {
        // The timer counts in int milliseconds; a renewal days away is stepped to once a day.
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(next - time_.now());
        timer_->start(static_cast<int>(std::clamp<long long>(left.count(), 0, 24LL * 3600 * 1000)));
    }
    if (fd >= 0 && (!notifier_ || notifier_->socket() != fd)) {
        delete notifier_;
        notifier_ = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connect(notifier_, &QSocketNotifier::activated, this, &Keeping::stepSoon);
    }
    if (notifier_)
        notifier_->setEnabled(true);
}
