#include "Renewals.h"

#include "log.h"
#include "rules.h"

#include <QTimer>

Renewals::Renewals(quaymap::Engine& engine, Background& background, PortTableModel& model,
                   QObject* parent)
    : QObject(parent), engine_(engine), background_(background), model_(model) {}

void Renewals::schedule(const std::shared_ptr<Port_Entry>& entry) {
    const long delay = quaymap::renewal_delay_s(entry->record(), 0);
    if (delay < 0)
        return cancel(entry);
    start(entry, delay * 1000LL);
}

void Renewals::cancel(const Row& entry) {
    const auto found = renewals_.find(entry);
    if (found == renewals_.end())
        return;
    delete found->second.timer;
    background_.cancel(found->second.queued);
    renewals_.erase(found);
}

void Renewals::renew(const Row& entry) {
    const std::shared_ptr<Port_Entry> held = entry.lock();
    if (!held)
        return;
    // The job holds the mapping, never the row: a row let go on a worker thread would end there.
    const quaymap::Mapping row = held->record();
    unsigned& queued = renewals_[entry].queued;
    background_.cancel(queued); // one renewal of a row waits at a time
    queued = background_.command([this, entry, row] {
        const quaymap::CommandResult result = engine_.renew(row);
        return [this, entry, row, result] {
            const auto renewal = renewals_.find(entry);
            if (renewal != renewals_.end())
                renewal->second.queued = 0;
            const std::shared_ptr<Port_Entry> shown = entry.lock();
            if (result.ok()) {
                // A refresh may have dropped the row while the renewal was out: the router holds
                // the mapping again, so the table shows it again.
                const std::shared_ptr<Port_Entry> now =
                    model_.rowOf(shown.get()) < 0 ? model_.merge(result.row) : shown;
                if (now != shown)
                    cancel(entry);
                model_.update(now.get(), result.row);
                return schedule(now);
            }
            quaymap_log("renewing the mapping of port %s failed: %s", row.external_port.c_str(),
                        result.message.c_str());
            const long retry = quaymap::renewal_retry_s(result.verdict);
            if (shown && model_.rowOf(shown.get()) >= 0 && retry >= 0)
                start(shown, retry * 1000LL);
        };
    });
}

void Renewals::start(const std::shared_ptr<Port_Entry>& entry, qint64 ms) {
    QTimer*& timer = renewals_[entry].timer;
    if (!timer) {
        timer = new QTimer(this);
        timer->setObjectName(QStringLiteral("renewal"));
        timer->setSingleShot(true);
        connect(timer, &QTimer::timeout, this, [this, row = Row(entry)] { renew(row); });
    }
    timer->start(static_cast<int>(ms));
}
