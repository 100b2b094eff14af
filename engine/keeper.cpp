#include "keeper.h"

#include "explain.h"
#include "rules.h"

#include <algorithm>
#include <memory>
#include <random>

namespace quaymap {

namespace {

constexpr KeeperClock::time_point kNever = KeeperClock::time_point::max();

KeeperClock::time_point after(KeeperClock::time_point from, long seconds) {
    return from + std::chrono::seconds(seconds);
}

bool same(const Kept& a, const Kept& b) {
    const AddRequest &x = a.request, &y = b.request;
    return a.owned == b.owned && x.name == y.name && x.external_port == y.external_port &&
           x.internal_port == y.internal_port &&
           protocol_name(x.protocol) == protocol_name(y.protocol) &&
           x.internal_client == y.internal_client && x.lease == y.lease && x.keep == y.keep &&
           x.keep_file == y.keep_file;
}

std::string port_protocol(const Mapping& row) {
    return row.external_port + "/" + row.protocol;
}

} // namespace

KeeperTime system_keeper_time() {
    auto chance = std::make_shared<std::mt19937>(std::random_device{}());
    return {[] { return KeeperClock::now(); },
            [chance] { return std::uniform_real_distribution<double>(0, 1)(*chance); }};
}

Keeper::Keeper(Engine& engine, KeeperTime time, Options options, Hooks hooks)
    : engine_(engine), time_(std::move(time)), options_(std::move(options)),
      hooks_(std::move(hooks)) {}

std::string Keeper::key(const AddRequest& request) {
    return std::to_string(request.external_port) + "/" + protocol_name(request.protocol);
}

void Keeper::say(const std::string& line) const {
    if (hooks_.say)
        hooks_.say(line);
}

void Keeper::start(Item& item, KeeperClock::time_point now) {
    item.row.reset();
    item.trouble.clear();
    item.hopeless = false;
    item.ask_at = now;
    item.renew_at = item.check_at = kNever;
    if (!item.kept.granted)
        return;
    item.row = item.kept.granted;
    item.ask_at = kNever;
    const long delay = renewal_delay_s(*item.row, time_.random());
    if (delay >= 0)
        item.renew_at = std::max(now, after(now, delay - static_cast<long>(item.kept.granted_s)));
    if (options_.check_s > 0)
        item.check_at = after(now, options_.check_s);
}

void Keeper::hold(const std::vector<Kept>& mappings) {
    const KeeperClock::time_point now = time_.now();
    std::vector<Item> kept;
    for (const Kept& mapping : mappings) {
        const auto held = std::find_if(items_.begin(), items_.end(), [&](const Item& item) {
            return key(item.kept.request) == key(mapping.request);
        });
        if (held != items_.end() && same(held->kept, mapping)) {
            kept.push_back(std::move(*held));
            items_.erase(held);
            continue;
        }
        Item item;
        item.kept = mapping;
        start(item, now);
        kept.push_back(std::move(item));
    }
    for (Item& left : items_) {
        const bool asked_anew = std::any_of(kept.begin(), kept.end(), [&](const Item& item) {
            return key(item.kept.request) == key(left.kept.request);
        });
        if (asked_anew)
            continue;
        if (left.kept.owned && left.row)
            gone_.push_back(std::move(left));
        else if (hooks_.let_go)
            hooks_.let_go(left.kept.request);
    }
    items_ = std::move(kept);
}

void Keeper::hold_one(const Kept& mapping) {
    auto held = std::find_if(items_.begin(), items_.end(), [&](const Item& item) {
        return key(item.kept.request) == key(mapping.request);
    });
    if (held == items_.end())
        held = items_.insert(items_.end(), Item());
    held->kept = mapping;
    start(*held, time_.now());
}

void Keeper::drop(const std::string& gone) {
    items_.erase(std::remove_if(items_.begin(), items_.end(),
                                [&](const Item& item) { return key(item.kept.request) == gone; }),
                 items_.end());
}

void Keeper::router_gone(const std::string& why) {
    silence(why, time_.now());
}

void Keeper::silence(const std::string& why, KeeperClock::time_point now) {
    pause_s_ = router_pause_s(told_silent_ ? pause_s_ : 0);
    retry_at_ = after(now, pause_s_);
    if (!told_silent_)
        say(why + " QuayMap asks again in " + lease_text(std::to_string(pause_s_)) +
            ", then less and less often, up to every " + lease_text("300") + ".");
    silent_ = told_silent_ = true;
}

bool Keeper::heard(const CommandResult& result, KeeperClock::time_point now) {
    if (result.verdict == Verdict::unreachable) {
        silence(result.message, now);
        return false;
    }
    if (told_silent_) {
        told_silent_ = false;
        pause_s_ = 0;
        say("The router answers again.");
    }
    return true;
}

void Keeper::granted(Item& item, const CommandResult& result, const char* how,
                     KeeperClock::time_point now) {
    item.row = result.row;
    Mapping timed = result.row;
    // A router that does not say the lease it keeps keeps the one asked for.
    if (timed.lease_duration.empty() && item.kept.request.lease > 0)
        timed.lease_duration = std::to_string(item.kept.request.lease);
    const long delay = renewal_delay_s(timed, time_.random());
    item.ask_at = kNever;
    item.renew_at = delay < 0 ? kNever : after(now, delay);
    item.check_at = options_.check_s > 0 ? after(now, options_.check_s) : kNever;
    item.trouble.clear();
    const Mapping& row = result.row;
    std::string line = std::string(how) + " " + port_protocol(row);
    if (std::string(how) == "added")
        line += " -> " + row.internal_client + ":" + row.internal_port + " (" + row.description +
                ", lease " + lease_text(row.lease_duration) + ")";
    else if (std::string(how) == "renewed")
        line += " (lease " + lease_text(row.lease_duration) + ")";
    say(line);
    if (hooks_.granted)
        hooks_.granted(row, item.kept.request);
}

void Keeper::failed(Item& item, const CommandResult& result, KeeperClock::time_point now) {
    const std::string line = key(item.kept.request) + ": " + result.message;
    if (line != item.trouble)
        say(line);
    item.trouble = line;
    const long retry = renewal_retry_s(result.verdict);
    if (retry < 0)
        item.hopeless = true;
    else if (item.ask_at <= now)
        item.ask_at = after(now, retry);
    else if (item.renew_at <= now)
        item.renew_at = after(now, retry);
    else
        item.check_at = after(now, retry);
}

void Keeper::work(Item& item, KeeperClock::time_point now) {
    if (item.hopeless)
        return;
    if (item.ask_at > now && item.renew_at > now && item.check_at <= now) {
        const CommandResult checked = engine_.check(*item.row);
        if (!heard(checked, now))
            return;
        if (!checked.ok())
            return failed(item, checked, now);
        if (checked.held) {
            item.check_at = options_.check_s > 0 ? after(now, options_.check_s) : kNever;
            return;
        }
        item.ask_at = now; // lost: put back at once
    }
    const bool asking = item.ask_at <= now;
    if (!asking && item.renew_at > now)
        return;
    const bool put_back = asking && item.row;
    const CommandResult result = asking ? engine_.add(item.kept.request) : engine_.renew(*item.row);
    if (!heard(result, now))
        return;
    if (!result.ok())
        return failed(item, result, now);
    granted(item, result, !asking ? "renewed" : put_back ? "put back" : "added", now);
}

bool Keeper::signs(KeeperClock::time_point now) {
    std::string why;
    if (!engine_.restarted(why))
        return false;
    std::size_t lost = 0;
    for (Item& item : items_)
        if (!item.hopeless && item.row)
            item.ask_at = now, ++lost;
    say("The router restarted (" + why + "): QuayMap puts back " + std::to_string(lost) +
        (lost == 1 ? " mapping." : " mappings."));
    return true;
}

void Keeper::delete_gone() {
    while (!gone_.empty() && !silent_ && !stopping()) {
        Item& item = gone_.front();
        const CommandResult removed = engine_.remove(*item.row);
        if (!heard(removed, time_.now()))
            return;
        say(removed.ok() ? "deleted " + port_protocol(*item.row)
                         : key(item.kept.request) + ": " + removed.message);
        if (hooks_.let_go)
            hooks_.let_go(item.kept.request);
        gone_.erase(gone_.begin());
    }
}

KeeperClock::time_point Keeper::step() {
    KeeperClock::time_point now = time_.now();
    if (silent_) {
        if (now < retry_at_)
            return retry_at_;
        silent_ = false;
        if (options_.search_again && !stopping()) {
            if (engine_.search({false}).kind == RouterKind::none) {
                silence("No router was found.", time_.now());
                return next();
            }
            heard(CommandResult(), now);
        }
        // What it lost while it did not answer is found by asking.
        for (Item& item : items_)
            if (item.row)
                item.check_at = now;
    }
    if (!stopping())
        signs(now);
    for (int pass = 0; pass < 2; ++pass) {
        delete_gone();
        for (Item& item : items_)
            if (!silent_ && !stopping())
                work(item, now);
        // Answers of this pass may have shown a restart (an epoch gone back): a pass more.
        now = time_.now();
        if (silent_ || stopping() || !signs(now))
            break;
    }
    return next();
}

bool Keeper::release() {
    for (Item& item : items_)
        if (item.kept.owned && item.row)
            gone_.push_back(std::move(item));
    items_.clear();
    bool all = true;
    for (std::size_t i = 0; i < gone_.size(); ++i) {
        const Mapping& row = *gone_[i].row;
        const CommandResult removed = engine_.remove(row);
        if (removed.ok()) {
            say("deleted " + port_protocol(row));
            continue;
        }
        all = false;
        say(port_protocol(row) + ": " + removed.message);
        // A router that does not answer would keep each of the others waiting as long.
        if (removed.verdict == Verdict::unreachable && i + 1 < gone_.size()) {
            say(std::to_string(gone_.size() - i - 1) +
                " more stay on the router until their leases end.");
            break;
        }
    }
    gone_.clear();
    return all;
}

std::size_t Keeper::held() const {
    return static_cast<std::size_t>(std::count_if(
        items_.begin(), items_.end(), [](const Item& i) { return i.row && i.ask_at == kNever; }));
}

KeeperClock::time_point Keeper::next() const {
    if (silent_)
        return retry_at_;
    if (!gone_.empty())
        return time_.now();
    KeeperClock::time_point next = kNever;
    for (const Item& item : items_)
        if (!item.hopeless)
            next = std::min({next, item.ask_at, item.renew_at, item.check_at});
    return next;
}

std::string Keeper::status() const {
    const auto seconds = [this](KeeperClock::time_point at) {
        const auto left = std::chrono::duration_cast<std::chrono::seconds>(at - time_.now());
        return lease_text(std::to_string(std::max<long long>(1, left.count())));
    };
    const std::size_t n = held();
    std::string text = n == items_.size()
                           ? std::to_string(n)
                           : std::to_string(n) + " of " + std::to_string(items_.size());
    text += items_.size() == 1 ? " mapping held" : " mappings held";
    if (silent_)
        return text + ", the router does not answer (next try in " + seconds(retry_at_) + ")";
    KeeperClock::time_point renewal = kNever;
    for (const Item& item : items_)
        if (item.row)
            renewal = std::min(renewal, item.renew_at);
    return text + (renewal == kNever ? ", none to renew" : ", next renewal in " + seconds(renewal));
}

} // namespace quaymap
