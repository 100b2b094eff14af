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
    if (!stopped_)
        QMetaObject::invokeMethod(main_, std::move(effect), Qt::QueuedConnection);
}

void Background::command(Job job) {
    jobs_.push_back(std::move(job));
    if (!job_running_) {
        if (busyChanged)
            busyChanged(true);
        next();
    }
}

void Background::next() {
    if (jobs_.empty()) {
        job_running_ = false;
        if (busyChanged)
            busyChanged(false);
        return;
    }
    job_running_ = true;
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    start([this, job = std::move(job)] {
        Effect effect = job();
        post([this, effect = std::move(effect)] {
            if (effect)
                effect();
            next();
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
