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

unsigned Background::command(Job job) {
    return queue(commands_, std::move(job));
}

unsigned Background::listing(Job job) {
    return queue(listings_, std::move(job));
}

unsigned Background::queue(Lane& lane, Job job) {
    const unsigned ticket = ++tickets_;
    lane.jobs.emplace_back(ticket, std::move(job));
    if (!lane.running) {
        if (busyChanged && !commands_.running && !listings_.running)
            busyChanged(true);
        next(lane);
    }
    return ticket;
}

bool Background::cancel(unsigned ticket) {
    for (Lane* lane : {&commands_, &listings_})
        for (auto it = lane->jobs.begin(); it != lane->jobs.end(); ++it)
            if (it->first == ticket) {
                lane->jobs.erase(it);
                return true;
            }
    return false;
}

void Background::next(Lane& lane) {
    if (lane.jobs.empty()) {
        lane.running = false;
        if (busyChanged && !commands_.running && !listings_.running)
            busyChanged(false);
        return;
    }
    lane.running = true;
    Job job = std::move(lane.jobs.front().second);
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
