// Keeps a set of mappings on the router, for the window and for quaymap-cli keep alike: adds each
// one, checks each every minute, renews each at a random point between a half and five eighths
// of its lease, puts back at once what the router lost (a check that finds it gone, a restart
// that the router announced or that its answers showed), and asks a router that does not answer
// again after a growing pause, up to five minutes, never giving up.
//
// It never waits: step() does what is due and says when to come back; the face waits for that
// moment, the router's announcements (Engine::announcements()) or its own signals. The time and
// the chance come from outside. One thread at a time; each step blocks for the exchanges it has
// (each within the engine's budget).
#pragma once

#include "Engine.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace quaymap {

using KeeperClock = std::chrono::steady_clock;

struct KeeperTime {
    std::function<KeeperClock::time_point()>
        now;                        // monotonic: a change of the wall clock moves none
    std::function<double()> random; // from 0 to 1
};
KeeperTime system_keeper_time();

// One mapping to keep, named by its port and protocol as asked.
struct Kept {
    AddRequest request;
    bool owned = false; // deleted when the keeper lets it go or stops
    // Already on the router: as it was granted `granted_s` seconds ago. Otherwise it is asked
    // for at the next step.
    std::optional<Mapping> granted;
    int64_t granted_s = 0;
};

class Keeper {
  public:
    struct Options {
        int check_s = 60; // how often each mapping is checked; 0: never but after a silence
        bool search_again = false;  // a router that does not answer is searched for again
        std::function<bool()> stop; // once true, a step starts no further exchange
    };
    // What the keeper did, for the face.
    struct Hooks {
        std::function<void(const std::string&)> say; // one line for the user
        // A mapping as the router now holds it (added, renewed, put back), or one let go.
        std::function<void(const Mapping&, const AddRequest&)> granted;
        std::function<void(const AddRequest&)> let_go;
    };

    Keeper(Engine& engine, KeeperTime time, Options options, Hooks hooks);

    // From now on these are the mappings kept: a new one is asked for at the next step; one no
    // longer among them is deleted there when owned, else let go. One that changed is asked for
    // anew.
    void hold(const std::vector<Kept>& mappings);
    // One mapping more (replacing one of its port and protocol), or one less without a delete
    // (the face deleted it).
    void hold_one(const Kept& mapping);
    void drop(const std::string& key);
    // The router could not be found: it is asked again after the growing pause.
    void router_gone(const std::string& why);

    // Does what is due now; returns when something is next due.
    KeeperClock::time_point step();
    // Deletes every owned mapping held; false when the router did not confirm each.
    bool release();

    // "3 mappings held, next renewal in 41 min".
    std::string status() const;
    std::size_t held() const;

    // "8080/TCP": the key of a request.
    static std::string key(const AddRequest& request);

  private:
    struct Item {
        Kept kept;
        std::optional<Mapping> row; // as the router holds it
        KeeperClock::time_point ask_at, renew_at, check_at;
        std::string trouble; // the latest failure said, so that it is said once
        bool hopeless = false;
    };

    void start(Item& item, KeeperClock::time_point now);
    void granted(Item& item, const CommandResult& result, const char* how,
                 KeeperClock::time_point now);
    void failed(Item& item, const CommandResult& result, KeeperClock::time_point now);
    void work(Item& item, KeeperClock::time_point now);
    void delete_gone();
    bool signs(KeeperClock::time_point now);
    // Any answer at all after a silence; false when the result is one more silence.
    bool heard(const CommandResult& result, KeeperClock::time_point now);
    void silence(const std::string& why, KeeperClock::time_point now);
    KeeperClock::time_point next() const;
    bool stopping() const { return options_.stop && options_.stop(); }
    void say(const std::string& line) const;

    Engine& engine_;
    const KeeperTime time_;
    const Options options_;
    const Hooks hooks_;
    std::vector<Item> items_;
    std::vector<Item> gone_;   // owned mappings no longer held, to delete
    bool silent_ = false;      // the router did not answer: nothing is asked until retry_at_
    bool told_silent_ = false; // the user was told so, and is told when it answers again
    long pause_s_ = 0;
    KeeperClock::time_point retry_at_;
};

} // namespace quaymap
