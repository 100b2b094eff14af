#include "Renewals.h"

#include "log.h"

#include <QTimer>
#include <algorithm>

namespace {

// A day at most, so that any lease the router grants fits a timer.
constexpr qint64 kLongestWaitMs = 24LL * 3600 * 1000;
constexpr qint64 kRetryMs = 60 * 1000;

} // namespace

Renewals::Renewals(quaymap::Engine& engine, Background& background, PortTableModel& model,
                   QObject* parent)
    : QObject(parent), engine_(engine), background_(background), model_(model) {}

void Renewals::schedule(const std::shared_ptr<Port_Entry>& entry) {
    bool number = false;
    const qint64 lease = QString::fromStdString(entry->record().lease_duration).toLongLong(&number);
    if (!number || lease <= 0)
        return cancel(entry.get());
    start(entry, std::clamp<qint64>(lease * 1000 / 2, 1000, kLongestWaitMs));
}

void Renewals::cancel(const Port_Entry* entry) {
    const auto found = timers_.find(entry);
    if (found == timers_.end())
        return;
    delete found->second;
    timers_.erase(found);
}

void Renewals::renew(const std::shared_ptr<Port_Entry>& entry) {
    const MappingRecord row = entry->record();
    background_.command([this, entry, row] {
        const quaymap::CommandResult result = engine_.renew(row);
        return [this, entry, row, result] {
            if (model_.rowOf(entry.get()) < 0)
                return; // deleted meanwhile
            if (result.ok()) {
                model_.update(entry.get(), result.row);
                return schedule(entry);
            }
            quaymap_log("renewing the mapping of port %s failed: %s", row.external_port.c_str(),
                        result.message.c_str());
            if (result.verdict != quaymap::Verdict::invalid)
                start(entry, kRetryMs);
        };
    });
}

void Renewals::start(const std::shared_ptr<Port_Entry>& entry, qint64 ms) {
    QTimer*& timer = timers_[entry.get()];
    if (!timer) {
        timer = new QTimer(this);
        timer->setObjectName(QStringLiteral("renewal"));
        timer->setSingleShot(true);
        const std::weak_ptr<Port_Entry> row = entry;
        connect(timer, &QTimer::timeout, this, [this, row] {
            if (const std::shared_ptr<Port_Entry> held = row.lock())
                renew(held);
        });
    }
    timer->start(static_cast<int>(ms));
}
