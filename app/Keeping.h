// Keeps what QuayMap made on the router shown, while the window runs: the engine's keeper over
// the mappings its record holds there, made here or kept open. It renews each at its time and
// puts back what the router lost, which the router's own announcements or its answers tell.
// Kept ones, and on NAT-PMP (which lists nothing) every one, are asked for again as the router
// is found: that is how the window learns that the router still holds them.
//
// Threads: the keeper lives in the command lane, one job at a time like every command, so a
// delete and a renewal never cross; the timer, the announcements' notifier and every effect are
// the main thread's.
#pragma once

#include "Background.h"
#include "Engine.h"
#include "keeper.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class QSocketNotifier;
class QTimer;

class Keeping : public QObject {
    Q_OBJECT

  public:
    // Applied on the main thread: a mapping as the router now holds it, with its mark ("kept",
    // "made here"); the record's marks of the router's mappings, by table key.
    struct Effects {
        std::function<void(const quaymap::Mapping&, const QString&)> granted;
        std::function<void(const QHash<QString, QString>&)> marks;
    };
    Keeping(quaymap::Engine& engine, Background& background, Effects effects,
            QObject* parent = nullptr);
    ~Keeping() override;

    // Tests: the keeper's clock and chance.
    void setTime(quaymap::KeeperTime time) { time_ = std::move(time); }
    // Main thread: the router found or chosen; on NAT-PMP (`asks_again`) every mapping of the
    // record is asked for again.
    void start(bool asks_again);
    // Main thread: nothing is kept until the next start (another router is being chosen).
    void stop();
    // Main thread: a mapping the window added.
    void added(const quaymap::AddRequest& request, const quaymap::Mapping& row);
    // In the command lane, in the job of a confirmed delete: the mapping is no longer kept.
    void deleted(const quaymap::Mapping& row);

  private:
    void stepSoon();
    // In the command lane: one step, and what it changed, for the main thread (unless another
    // start came meanwhile).
    Background::Effect step(unsigned session);
    void apply(quaymap::KeeperClock::time_point next, int fd);

    quaymap::Engine& engine_;
    Background& background_;
    Effects effects_;
    quaymap::KeeperTime time_;
    // The command lane's.
    std::unique_ptr<quaymap::Keeper> keeper_;
    std::vector<std::pair<quaymap::Mapping, QString>> granted_;
    // The main thread's.
    QTimer* timer_ = nullptr;
    QSocketNotifier* notifier_ = nullptr;
    bool running_ = false; // started, and not stopped since
    bool queued_ = false;  // a step waits in the lane
    unsigned ticket_ = 0;  // of the latest step given to the lane
    unsigned session_ = 0; // each start and stop; a step of an earlier one changes nothing
};
