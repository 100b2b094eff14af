// The keeper's schedule on its own clock, over a scripted router: renewals, checks, what it puts
// back and when, a silent router, and the set of mappings changing under it.
#include "explain.h"
#include "keeper.h"
#include "rules.h"

#include <gtest/gtest.h>
#include <set>

using namespace quaymap;
using Clock = KeeperClock;

namespace {

// Grants every add for its lease (600 s unless asked), answers checks by `lost`, and records each
// call as "SECONDS CALL PORT/PROTOCOL, ".
struct Script : Engine {
    Clock::time_point now{};
    std::string calls;
    std::vector<std::string> said;
    std::set<std::string> lost, refused; // "8080/TCP", "add 8080/TCP"
    bool silent = false;
    std::string restart; // told once by restarted()

    CommandResult call(const std::string& what, Mapping row) {
        const std::string key = row.external_port + "/" + row.protocol;
        calls += std::to_string((now - Clock::time_point{}) / std::chrono::seconds(1)) + " " +
                 what + (row.protocol.empty() ? "" : " " + key) + ", ";
        CommandResult result;
        result.row = row, result.held = !lost.count(key);
        result.verdict = silent                            ? Verdict::unreachable
                         : refused.count(what + " " + key) ? Verdict::refused
                                                           : Verdict::done;
        result.message = result.ok() ? "" : "no";
        if (what == "add" && result.ok())
            lost.erase(key);
        return result;
    }
    CommandResult add(const AddRequest& r) override {
        const std::string port = std::to_string(r.external_port);
        return call("add", {r.name, protocol_name(r.protocol), port, "10.0.0.2", port,
                            std::to_string(r.lease < 0 ? 600 : r.lease)});
    }
    CommandResult renew(const Mapping& row) override { return call("renew", row); }
    CommandResult check(const Mapping& row) override { return call("check", row); }
    CommandResult remove(const Mapping& row) override { return call("delete", row); }
    bool restarted(std::string& why) override {
        why.swap(restart), restart.clear();
        return !why.empty();
    }
    SearchOutcome search(const SearchOptions&) override {
        call("search", {});
        return {silent ? RouterKind::none : RouterKind::igd2, "", "", "", "", "", {}};
    }
    CommandResult list(const RowSink&) override { return {}; }
    CommandResult public_address() override { return {}; }
    // The calls so far, forgotten.
    std::string taken() { return std::exchange(calls, ""); }
};

Kept kept(uint16_t port, const char* protocol = "TCP", int64_t lease = -1, bool owned = true) {
    Kept k;
    k.request = AddRequest{"m" + std::to_string(port), port, 0, protocol, "", lease};
    k.owned = owned;
    return k;
}

// A keeper over the script, on the script's clock, with the chance `random`.
struct Keeping {
    Script router;
    Keeper keeper;
    explicit Keeping(double random = 0.5, Keeper::Options options = {})
        : keeper(router, {[this] { return router.now; }, [random] { return random; }}, options,
                 {[this](const std::string& line) { router.said.push_back(line); }, {}, {}}) {}
    // Steps until `seconds` on the clock, which jumps to each moment the keeper asks for.
    void run_to(long seconds) {
        const Clock::time_point end = Clock::time_point{} + std::chrono::seconds(seconds);
        for (Clock::time_point next; (next = keeper.step()) <= end;)
            router.now = std::max(router.now, next);
        router.now = end;
    }
};

} // namespace

TEST(Keeper, RenewsBetweenAHalfAndFiveEighthsOfTheLeaseAndChecksEachMinute) {
    // The chance at each end of its range: lease 600 s renewed at 300 s, or at 375 s.
    for (const auto& [random, renewal] : {std::pair{0.0, 300}, {0.999999, 374}}) {
        Keeping k(random, {0, false, {}});
        k.keeper.hold({kept(8080), kept(53, "UDP", 0)}); // 53/UDP is permanent
        k.run_to(2 * renewal);
        EXPECT_EQ(k.router.taken(), "0 add 8080/TCP, 0 add 53/UDP, " + std::to_string(renewal) +
                                        " renew 8080/TCP, " + std::to_string(renewal * 2) +
                                        " renew 8080/TCP, ");
        EXPECT_EQ(k.router.said[0], "added 8080/TCP -> 10.0.0.2:8080 (m8080, lease 10 min)");
        EXPECT_EQ(k.keeper.status(),
                  "2 mappings held, next renewal in " + lease_text(std::to_string(renewal)));
    }
    // Checked every minute; what the router lost is put back at once.
    Keeping k;
    k.keeper.hold({kept(8080, "TCP", 0)});
    k.run_to(60);
    k.router.lost = {"8080/TCP"};
    k.run_to(130);
    EXPECT_EQ(k.router.taken(), "0 add 8080/TCP, 60 check 8080/TCP, 120 check 8080/TCP, "
                                "120 add 8080/TCP, ");
    EXPECT_EQ(k.router.said.back(), "put back 8080/TCP");
    EXPECT_EQ(k.keeper.status(), "1 mapping held, none to renew");
}

TEST(Keeper, ARestartPutsBackEverythingAtOnceAndARefusalIsToldOnce) {
    Keeping k(0.5, {0, false, {}});
    k.keeper.hold({kept(8080), kept(27015, "UDP")});
    k.router.refused = {"add 27015/UDP"};
    k.run_to(130);
    EXPECT_EQ(k.router.taken(), "0 add 8080/TCP, 0 add 27015/UDP, 60 add 27015/UDP, "
                                "120 add 27015/UDP, ");
    EXPECT_EQ(k.router.said,
              (std::vector<std::string>{"added 8080/TCP -> 10.0.0.2:8080 (m8080, lease 10 min)",
                                        "27015/UDP: no"}));
    EXPECT_EQ(k.keeper.status(), "1 of 2 mappings held, next renewal in 3 min");
    k.router.refused.clear();
    k.router.restart = "its BOOTID.UPNP.ORG went from 7 to 8";
    k.run_to(140); // a step comes when the router's announcement does
    EXPECT_EQ(k.router.taken(), "130 add 8080/TCP, "); // 27015/UDP is asked at its time
    EXPECT_EQ(k.router.said[2], "The router restarted (its BOOTID.UPNP.ORG went from 7 to 8): "
                                "QuayMap puts back 1 mapping.");
}

TEST(Keeper, ASilentRouterIsAskedAgainLessAndLessOftenAndNeverGivenUp) {
    Keeping k(0.5, {60, true, {}});
    k.keeper.hold({kept(8080, "TCP", 0), kept(22, "TCP", 0)});
    k.run_to(0);
    k.router.taken();
    k.router.silent = true;
    k.run_to(1000);
    EXPECT_EQ(k.router.taken(), "60 check 8080/TCP, 65 search, 75 search, 95 search, "
                                "135 search, 215 search, 375 search, 675 search, 975 search, ");
    k.router.silent = false;
    k.run_to(1300);
    EXPECT_EQ(k.router.taken(), "1275 search, 1275 check 8080/TCP, 1275 check 22/TCP, ");
    // Said once as it went silent, once as it came back.
    EXPECT_EQ(k.router.said.size(), 4u);
    EXPECT_EQ(k.router.said[2], "no QuayMap asks again in 5 s, then less and less often, up to "
                                "every 5 min.");
    EXPECT_EQ(k.router.said[3], "The router answers again.");
}

TEST(Keeper, ANewSetAddsWhatCameDeletesWhatWentAndLeavesTheRest) {
    Keeping k(0.5, {0, false, {}});
    Kept window = kept(443, "TCP", -1, false); // kept from the window: never the keeper's to delete
    k.keeper.hold({kept(8080), kept(22), kept(53, "UDP"), window});
    k.run_to(10);
    k.router.taken();
    Kept moved = kept(22);
    moved.request.internal_port = 2222;
    k.keeper.hold({kept(8080), moved, kept(9000)}); // as after SIGHUP
    k.run_to(20);
    EXPECT_EQ(k.router.taken(), "10 delete 53/UDP, 10 add 22/TCP, 10 add 9000/TCP, ");
    EXPECT_TRUE(k.keeper.release());
    EXPECT_EQ(k.router.taken(), "20 delete 8080/TCP, 20 delete 22/TCP, 20 delete 9000/TCP, ");
    // A mapping the face added itself is taken as granted; it is renewed when due, and dropped.
    Kept made = kept(7000, "TCP", 600);
    made.granted = Mapping{"m7000", "TCP", "7000", "10.0.0.2", "7000", "600"};
    made.granted_s = 200;
    k.keeper.hold_one(made);
    k.run_to(400);
    EXPECT_EQ(k.router.taken(), "157 renew 7000/TCP, ");
    k.keeper.drop("7000/TCP");
    EXPECT_EQ(k.keeper.status(), "0 mappings held, none to renew");
}
