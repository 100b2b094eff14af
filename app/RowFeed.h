// Rows read on a worker reach the table in batches: the first batch at once, later ones at most
// one every 40 ms. A router that lists its mappings one exchange at a time then costs the window
// one table update per batch rather than one per row, and the rows still appear as they come.
#pragma once

#include "Background.h"
#include "Mapping.h"

#include <functional>
#include <memory>
#include <vector>

// Held by shared_ptr: a batch waiting for its moment must not outlive the feed.
class RowFeed : public std::enable_shared_from_this<RowFeed> {
  public:
    using Take = std::function<void(const std::vector<quaymap::Mapping>&)>;
    // `take` runs on the main thread with each batch.
    RowFeed(Background& background, Take take);

    // Worker: one row as it is read.
    void add(const quaymap::Mapping& row);
    // Main thread: whatever is pending goes in now (the listing has ended).
    void flush();

  private:
    void schedule();

    Background& background_;
    Take take_;
    std::vector<quaymap::Mapping> pending_; // under the background's lock
    bool first_ = true;                     // main thread only
};
