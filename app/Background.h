// Work off the main thread: threads of their own, the command lane, and the way back to the
// main thread. The window never waits for the router; the router's answers change the window
// only on the main thread, in the order they were posted.
#pragma once

#include <QObject>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class Background {
  public:
    using Effect = std::function<void()>;
    // Runs on a worker thread and returns what is then done on the main thread.
    using Job = std::function<Effect()>;

    // Effects go to the thread of `main`, which outlives this object, once open() has been called.
    explicit Background(QObject* main);
    ~Background();
    Background(const Background&) = delete;
    Background& operator=(const Background&) = delete;

    // Main thread: the work runs on a thread of its own.
    void start(std::function<void()> work);
    // Any thread; effects posted by one thread are applied in that order. Dropped once stopped.
    void post(Effect effect);
    // Main thread, once the toolkit runs and the windows are bound: the effects posted so far go
    // to the main thread now, later ones as they come. Work may start before, even before the
    // toolkit does.
    void open();
    // Main thread. Commands run one at a time, so their effects come in the order they were
    // given; each effect is applied before the next command starts. Returns the job's ticket.
    // A job that the user did not ask for (`shown` false: the keeper's) does not make the lanes
    // busy.
    unsigned command(Job job, bool shown = true);
    // Main thread: listings have a lane of their own, in the same way, so that a command never
    // waits behind a whole table.
    unsigned listing(Job job);
    // Main thread: a job that has not started yet never will. False once it has.
    bool cancel(unsigned ticket);
    // Main thread: told when the lanes start and stop being busy with jobs shown.
    std::function<void(bool)> busyChanged;

    // The object whose thread applies the effects.
    QObject* main() const { return main_; }

    // Whether a thread is still at work (the search or a command).
    bool running() const { return running_.load() > 0; }

    // A worker waits until the condition holds; false when the waiting was ended by stop().
    bool wait(const std::function<bool()>& condition);
    // Changes what the condition of a wait reads, under the same lock, and wakes the waits.
    void guarded(const std::function<void()>& change);
    // No more effects; waits end; the threads are joined.
    void stop();

  private:
    struct Queued {
        unsigned ticket;
        Job job;
        bool shown;
    };
    struct Lane {
        std::deque<Queued> jobs;
        bool running = false;
        bool shown = false; // the job running is one the user asked for
    };
    unsigned queue(Lane& lane, Job job, bool shown);
    void next(Lane& lane);
    bool busy() const;
    void tell(bool was_busy);

    QObject* main_;
    // Guards stopped_, and whatever the workers' waits read (through guarded()); a post takes it
    // so that stop() cannot pass between its test and the posting.
    std::mutex mutex_;
    std::condition_variable changed_; // wakes the waits when that changes
    bool stopped_ = false;
    bool open_ = false;
    std::vector<Effect> waiting_; // posted before open()
    std::atomic<int> running_{0};
    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    std::vector<Worker> workers_;
    // Main thread only.
    Lane commands_, listings_;
    unsigned tickets_ = 0;
};
