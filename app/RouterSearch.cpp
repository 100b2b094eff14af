#include "RouterSearch.h"

#include "router_text.h"

#include <cstdio>

RouterSearch::RouterSearch(quaymap::Engine& engine, Background& background, Steps steps)
    : engine_(engine), background_(background), steps_(std::move(steps)) {}

void RouterSearch::run() {
    const quaymap::SearchOutcome outcome = engine_.search({});
    if (outcome.kind == quaymap::RouterKind::none) {
        unsigned seen = 0;
        background_.guarded([&] { seen = closings_; });
        background_.post(steps_.nothingFound);
        // Until the window closes, or the controller ends.
        background_.wait([&] { return closings_ != seen; });
        return;
    }
    background_.post([this, outcome] { steps_.found(outcome); });
    // Only a search that found a router lists, and none follows it: the feed is made once.
    feed_ = std::make_shared<RowFeed>(background_, steps_.rows);
    const quaymap::CommandResult listed = engine_.list([this](const quaymap::Mapping& row) {
        std::printf("the forwading name is %s\n", quaymap::one_line(row.description).c_str());
        std::fflush(stdout);
        feed_->add(row);
    });
    background_.post([this, listed] {
        feed_->flush();
        steps_.listed(listed);
    });
}

void RouterSearch::errorWindowClosed() {
    background_.guarded([this] { ++closings_; });
}
