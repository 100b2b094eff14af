// Keeps the mappings that QuayMap made alive: a mapping with a lease is asked for again at half
// its lease, and a renewal that failed is tried again a minute later. Mappings that other
// programs made are theirs to keep or let go.
#pragma once

#include "Background.h"
#include "Engine.h"
#include "PortTableModel.h"

#include <QObject>
#include <map>
#include <memory>

class QTimer;

class Renewals : public QObject {
    Q_OBJECT

  public:
    Renewals(quaymap::Engine& engine, Background& background, PortTableModel& model,
             QObject* parent = nullptr);

    // From the row's lease as the router granted it; a permanent mapping needs no renewal.
    void schedule(const std::shared_ptr<Port_Entry>& entry);
    void cancel(const Port_Entry* entry);

  private:
    void renew(const std::shared_ptr<Port_Entry>& entry);
    void start(const std::shared_ptr<Port_Entry>& entry, qint64 ms);

    quaymap::Engine& engine_;
    Background& background_;
    PortTableModel& model_;
    std::map<const Port_Entry*, QTimer*> timers_;
};
