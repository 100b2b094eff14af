#include "RowFeed.h"

#include <QTimer>

namespace {

constexpr int kBatchMs = 40;

} // namespace

RowFeed::RowFeed(Background& background, Take take)
    : background_(background), take_(std::move(take)) {}

void RowFeed::add(const quaymap::Mapping& row) {
    bool first = false;
    background_.guarded([&] {
        first = pending_.empty();
        pending_.push_back(row);
    });
    // Only the row that opens a batch asks for it to be taken; the others join it.
    if (first)
        background_.post([feed = weak_from_this()] {
            if (auto alive = feed.lock())
                alive->schedule();
        });
}

void RowFeed::schedule() {
    if (first_) {
        first_ = false;
        return flush();
    }
    QTimer::singleShot(kBatchMs, background_.main(), [feed = weak_from_this()] {
        if (auto alive = feed.lock())
            alive->flush();
    });
}

void RowFeed::flush() {
    std::vector<quaymap::Mapping> batch;
    background_.guarded([&] { batch.swap(pending_); });
    if (!batch.empty())
        take_(batch);
}
