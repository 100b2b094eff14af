#include "Background.h"

Background::Background(QObject* main) : main_(main) {}

Background::~Background() {
    stop();
}

void Background::start(std::function<void()> work) {
    // Finished threads are joined here so that they do not pile up.
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    ++running_;
    std::thread thread([this, work = std::move(work), done] {
        work();
        --running_;
        done->store(true);
    });
    workers_.push_back(Worker{std::move(thread), done});
}

void Background::post(Effect effect) {
    // Under the lock, so that stop() cannot pass between the test and the posting.
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopped_)
        return;
    if (!open_)
        waiting_.push_back(std::move(effect));
    else
        QMetaObject::invokeMethod(main_, std::move(effect), Qt::QueuedConnection);
}

void Background::open() {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    for (Effect& effect : waiting_)
        QMetaObject::invokeMethod(main_, std::move(effect), Qt::QueuedConnection);
    waiting_.clear();
}

unsigned Background::command(Job job, bool shown) {
    return queue(commands_, std::move(job), shown);
}

unsigned Background::listing(Job job) {
    return queue(listings_, std::move(job), true);
}

// A job shown that runs, or waits for its turn.
bool Background::busy() const {
    for (const Lane* lane : {&commands_, &listings_}) {
        if (lane->running && lane->shown)
            return true;
        for (const Queued& queued : lane->jobs)
            if (queued.shown)
                return true;
    }
    return false;
}

void Background::tell(bool was_busy) {
    if (busyChanged && busy() != was_busy)
        busyChanged(!was_busy);
}

unsigned Background::queue(Lane& lane, Job job, bool shown) {
    const unsigned ticket = ++tickets_;
    const bool was_busy = busy();
    lane.jobs.push_back({ticket, std::move(job), shown});
    if (!lane.running)
        next(lane);
    tell(was_busy);
    return ticket;
}

bool Background::cancel(unsigned ticket) {
    for (Lane* lane : {&commands_, &listings_})
        for (auto it = lane->jobs.begin(); it != lane->jobs.end(); ++it)
            if (it->ticket == ticket) {
                const bool was_busy = busy();
                lane->jobs.erase(it);
                tell(was_busy);
                return true;
            }
    return false;
}

void Background::next(Lane& lane) {
    const bool was_busy = busy();
    lane.running = !lane.jobs.empty();
    lane.shown = lane.running && lane.jobs.front().shown;
    tell(was_busy);
    if (!lane.running)
        return;
    Job job = std::move(lane.jobs.front().job);
    lane.jobs.pop_front();
    start([this, &lane, job = std::move(job)] {
        Effect effect = job();
        post([this, &lane, effect = std::move(effect)] {
            if (effect)
                effect();
            next(lane);
        });
    });
}

bool Background::wait(const std::function<bool()>& condition) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return stopped_ || condition(); });
    return !stopped_;
}

void Background::guarded(const std::function<void()>& change) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        change();
    }
    changed_.notify_all();
}

void Background::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
    }
    changed_.notify_all();
    for (Worker& worker : workers_)
        if (worker.thread.joinable())
            worker.thread.join();
    workers_.clear();
}
