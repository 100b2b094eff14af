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
    // Its timer, and its renewal if one waits in the command lane: a renewal that went out after
    // the row was deleted would put the mapping back on the router, unseen.
    void cancel(const std::weak_ptr<Port_Entry>& entry);

  private:
    using Row = std::weak_ptr<Port_Entry>;
    void renew(const Row& entry);
    void start(const std::shared_ptr<Port_Entry>& entry, qint64 ms);

    quaymap::Engine& engine_;
    Background& background_;
    PortTableModel& model_;
    struct Renewal {
        QTimer* timer = nullptr;
        unsigned queued = 0; // the ticket of the renewal waiting in the command lane
    };
    // By the row's identity, which no later row can take over, unlike its address.
    std::map<Row, Renewal, std::owner_less<Row>> renewals_;
};
