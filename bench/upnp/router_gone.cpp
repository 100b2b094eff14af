// Add, delete and the public address on a router that went away after it was found: stopped
// (connections refused) and silent (connections time out). The engine runs in process.
#include "RouterEngine.h"
#include "UpnpNat.h"
#include "explain.h"
#include "figures.h"
#include "log.h"
#include "tables.h"

#include <cstdio>
#include <cstdlib>

namespace {

struct Way {
    const char* name;
    const char* vanish;
    const char* restore;
};

struct Gone {
    const Args& a;
    quaymap::RouterEngine& engine;

    void lab(const std::string& what) const {
        const std::string command = a.lab + " router " + what + " >/dev/null";
        if (std::system(command.c_str()) != 0)
            die("scripts/lab router " + what + " failed");
    }
    // The time each command takes to its verdict, and every verdict met across the runs
    // (usually one).
    void commands(double (&ms)[3], std::string (&verdicts)[3]) const {
        quaymap::AddRequest request;
        request.name = "lab bench";
        request.external_port = 47999;
        request.protocol = "TCP";
        const quaymap::Mapping row{"lab bench", "TCP", "47999", "", "47999", ""};
        for (int k = 0; k < 3; ++k) {
            const Clock::time_point start = Clock::now();
            const quaymap::CommandResult r = k == 0   ? engine.add(request)
                                             : k == 1 ? engine.remove(row)
                                                      : engine.public_address();
            ms[k] = ms_since(start);
            const std::string v = quaymap::verdict_name(r.verdict);
            if (("/" + verdicts[k] + "/").find("/" + v + "/") == std::string::npos)
                verdicts[k] += (verdicts[k].empty() ? "" : "/") + v;
        }
    }
    void measure(const Way& way) const {
        std::vector<double> add_ms, remove_ms, address_ms;
        std::string verdicts[3];
        std::printf("router %s: %-4s %12s %12s %16s\n", way.name, "run", "add", "delete",
                    "public address");
        for (int run = 0; run < a.runs; ++run) {
            lab(way.vanish);
            double ms[3];
            commands(ms, verdicts);
            lab(way.restore);
            add_ms.push_back(ms[0]);
            remove_ms.push_back(ms[1]);
            address_ms.push_back(ms[2]);
            std::printf("router %s: %-4d %12.1f %12.1f %16.1f\n", way.name, run + 1, ms[0], ms[1],
                        ms[2]);
        }
        // The router is back: the same engine reaches it again, without a new search.
        const quaymap::CommandResult back = engine.public_address();
        if (!back.ok())
            die(std::string("after router ") + way.restore +
                " the engine does not reach it: " + back.message);
        std::printf("  medians: add %.1f ms (%s), delete %.1f ms (%s), public address %.1f ms "
                    "(%s)\n\n",
                    median(add_ms), verdicts[0].c_str(), median(remove_ms), verdicts[1].c_str(),
                    median(address_ms), verdicts[2].c_str());
        std::printf("@gone %s %.1f %s %.1f %s %.1f %s\n", way.name, median(add_ms),
                    verdicts[0].c_str(), median(remove_ms), verdicts[1].c_str(), median(address_ms),
                    verdicts[2].c_str());
    }
};

struct Row {
    std::string way;
    double ms[3];
    std::string verdict[3];
};
std::vector<Row> rows;

void take(Fields& f) {
    Row r;
    r.way = f.text();
    for (int k = 0; k < 3; ++k) {
        r.ms[k] = f.number();
        r.verdict[k] = f.text();
    }
    rows.push_back(r);
}

void print(Targets& targets) {
    if (rows.empty())
        return;
    std::printf("\nCommands after the router vanished (engine in process, the router found "
                "first): time to the verdict.\n\n");
    std::printf("| router | add | delete | public address |\n");
    std::printf("|---|---:|---:|---:|\n");
    static const char* const names[] = {"add", "delete", "public address"};
    for (const Row& r : rows) {
        const char* how = r.way == "stop" ? "stopped (`router stop`: refused)"
                                          : "silent (`router drop`: time out)";
        std::printf("| %s | %s (%s) | %s (%s) | %s (%s) |\n", how, fmt(r.ms[0]).c_str(),
                    r.verdict[0].c_str(), fmt(r.ms[1]).c_str(), r.verdict[1].c_str(),
                    fmt(r.ms[2]).c_str(), r.verdict[2].c_str());
        for (int k = 0; k < 3; ++k)
            targets.push_back({std::string(names[k]) + ", router " + r.way + ": " + fmt(r.ms[k]) +
                                   " ms ≤ 10000, " + r.verdict[k],
                               r.ms[k] <= 10000 && r.verdict[k] == "unreachable"});
    }
}

} // namespace

const Table gone_table = {"@gone", take, print};

int gone_step(const Args& a) {
    if (a.lab.empty())
        usage();
    // The engine's own log lines would swamp the figures.
    set_log_echo(false);
    UpnpNat nat;
    nat.console = nullptr;
    quaymap::RouterEngine engine(nat);
    const quaymap::SearchOutcome found = engine.search({});
    if (found.kind != quaymap::RouterKind::igd1 && found.kind != quaymap::RouterKind::igd2)
        die("the search found no IGD router");
    const Gone gone{a, engine};
    for (const Way& way : {Way{"stop", "stop", "start"}, Way{"drop", "drop", "mend"}})
        gone.measure(way);
    return 0;
}
