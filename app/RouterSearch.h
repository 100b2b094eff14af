// The router search on a thread of its own: the engine's search, then the router's mappings row
// by row; when nothing was found, the search waits until the error window has been closed.
#pragma once

#include "Background.h"
#include "Engine.h"
#include "RowFeed.h"

#include <functional>
#include <memory>

class RouterSearch {
  public:
    // Applied on the main thread, in this order.
    struct Steps {
        std::function<void(const quaymap::SearchOutcome&)> found;
        std::function<void(const std::vector<quaymap::Mapping>&)> rows;
        std::function<void(const quaymap::CommandResult&)> listed;
        std::function<void()> nothingFound;
    };
    RouterSearch(quaymap::Engine& engine, Background& background, Steps steps);

    // On the search thread.
    void run();
    // Main thread: the error window has been closed. A count rather than a flag: the search that
    // the closing starts may put the window up again before the waiting one has woken.
    void errorWindowClosed();

  private:
    quaymap::Engine& engine_;
    Background& background_;
    Steps steps_;
    unsigned closings_ = 0; // under the background's lock
    std::shared_ptr<RowFeed> feed_;
};
