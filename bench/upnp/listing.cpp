// Listing, process start to the full table: quaymap-cli list and the window (to its last table
// row) next to `upnpc -l` and to the router's own floor.
#include "figures.h"
#include "output_rows.h"
#include "processes.h"
#include "step_setup.h"
#include "tables.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace {

// One run's figures; the window's stay kNone when it is left out.
struct Run {
    double cli = 0, cli_cpu = 0, upnpc = 0, app = kNone, app_cpu = kNone;
    Floor floor;
};

struct Listing {
    const Args& a;
    FloorPlan plan;

    void cli(Run& r) const {
        const Spawned s = spawn_timed({a.cli, "list"}, {}, nullptr, kProcessLimitMs);
        check_rows("quaymap-cli list", cli_rows(s.out), a.expect, s.exit_code == 0);
        r.cli = s.ms;
        r.cli_cpu = s.cpu_ms;
    }
    void upnpc(Run& r) const {
        const Spawned s = spawn_timed({a.upnpc, "-l"}, {}, nullptr, kProcessLimitMs);
        check_rows("upnpc -l", upnpc_rows(s.out), a.expect, s.exit_code == 0);
        r.upnpc = s.ms;
    }
    void window(Run& r) const {
        RowCounter rows(a.expect);
        const Spawned s = spawn_timed({a.app}, kOffscreen, rows, kProcessLimitMs);
        check_rows("the window", *rows.rows(), a.expect, s.met);
        r.app = s.ms;
        r.app_cpu = s.cpu_ms;
    }
    void floor(Run& r) const {
        r.floor = router_floor(plan);
        check_rows("the raw floor exchanges", r.floor.entries, a.expect, r.floor.ok);
    }
    // Each takes its turn at going first, so that none always meets a router fresh from another.
    Run run(int number) const {
        Run r;
        std::vector<int> order = {0, 1};
        if (!a.app.empty())
            order.push_back(2);
        std::rotate(order.begin(), order.begin() + number % order.size(), order.end());
        for (int who : order)
            who == 0 ? cli(r) : who == 1 ? upnpc(r) : window(r);
        floor(r);
        return r;
    }
};

struct Row {
    std::string mode;
    double n, cli, app, upnpc, floor, exchanges, cli_over, app_over, cli_ratio, cli_cpu, app_cpu;
};
std::vector<Row> rows;

// The router's own pace drifts from run to run (and with the machine's load): each difference
// and ratio is taken within its run, then their median.
void report(const Args& a, const std::vector<Run>& runs) {
    std::vector<double> cli, app, upnpc, floor, ssdp, desc, cli_over, app_over, ratio, cli_cpu,
        app_cpu;
    for (const Run& r : runs) {
        cli.push_back(r.cli);
        app.push_back(r.app);
        upnpc.push_back(r.upnpc);
        floor.push_back(r.floor.ms);
        ssdp.push_back(r.floor.ssdp_ms);
        desc.push_back(r.floor.description_ms);
        cli_over.push_back(r.cli - r.floor.ms);
        app_over.push_back(r.app - r.floor.ms);
        ratio.push_back(r.cli / r.upnpc);
        cli_cpu.push_back(r.cli_cpu);
        app_cpu.push_back(r.app_cpu);
    }
    const int exchanges = runs.back().floor.exchanges;
    std::printf("\n%s, %zu mappings, medians of %d runs (ms; differences and ratios taken run by "
                "run)\n",
                igd_name(a.mode).c_str(), a.expect, a.runs);
    std::printf("  %-36s %9.1f   (floor %+.1f, %.3f x upnpc -l; %.1f ms of processor time)\n",
                "quaymap-cli list", median(cli), median(cli_over), median(ratio), median(cli_cpu));
    if (!a.app.empty())
        std::printf("  %-36s %9.1f   (floor %+.1f; %.1f ms of processor time)\n",
                    "window, start to last row", median(app), median(app_over), median(app_cpu));
    std::printf("  %-36s %9.1f\n", "upnpc -l", median(upnpc));
    std::printf("  %-36s %9.1f   (%d exchanges: SSDP %.1f, description %.1f, listing %.1f)\n",
                "router floor", median(floor), exchanges, median(ssdp), median(desc),
                median(floor) - median(ssdp) - median(desc));
    std::printf("@listing %s %zu %.1f %.1f %.1f %.1f %d %.1f %.1f %.4f %.1f %.1f\n", a.mode.c_str(),
                a.expect, median(cli), median(app), median(upnpc), median(floor), exchanges,
                median(cli_over), median(app_over), median(ratio), median(cli_cpu),
                median(app_cpu));
}

void take(Fields& f) {
    Row r;
    r.mode = f.text();
    for (double* v : {&r.n, &r.cli, &r.app, &r.upnpc, &r.floor, &r.exchanges, &r.cli_over,
                      &r.app_over, &r.cli_ratio, &r.cli_cpu, &r.app_cpu})
        *v = f.number();
    rows.push_back(r);
}

void targets_of(const Row& r, Targets& targets) {
    const std::string at = " (v1, " + count(r.n) + ")";
    targets.push_back({"`quaymap-cli list` ≤ floor + 40 ms" + at + ": floor + " + fmt(r.cli_over),
                       r.cli_over <= 40});
    if (!std::isnan(r.app_over))
        targets.push_back(
            {"window ≤ floor + 40 ms" + at + ": floor + " + fmt(r.app_over), r.app_over <= 40});
    std::string bound;
    if (r.floor > 0.1 * r.upnpc)
        bound = " (the router's floor alone is " + fmt(r.floor / r.upnpc, "%.3f") + "× `upnpc -l`)";
    targets.push_back({"`quaymap-cli list` ≤ 0.1 × `upnpc -l`" + at + ": " +
                           fmt(r.cli_ratio, "%.3f") + "×" + bound,
                       r.cli_ratio <= 0.1});
}

void print(Targets& targets) {
    if (rows.empty())
        return;
    std::printf("\nListing, process start to the full table. Floor: the router's own time for the "
                "exchanges the listing needs, each timed raw from connect to the router's close: "
                "the SSDP answer, the description, then on v1 one request per index plus the "
                "refused one, on v2 the look at index 128 and the GetListOfPortMappings pages "
                "(TCP, UDP). Processor time: user and system time of the process; in the lab the "
                "router shares the machine's cores with it.\n\n");
    std::printf(
        "| router | mappings | `quaymap-cli list` | window | `upnpc -l` | floor (exchanges) "
        "| cli - floor | window - floor | cli / `upnpc -l` | floor / `upnpc -l` | "
        "processor time, cli / window |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|---:|---:|---:|\n");
    for (const Row& r : rows) {
        std::printf("| %s | %s | %s | %s | %s | %s (%s) | %s | %s | %s | %s | %s / %s |\n",
                    igd_name(r.mode).c_str(), count(r.n).c_str(), fmt(r.cli).c_str(),
                    fmt(r.app).c_str(), fmt(r.upnpc).c_str(), fmt(r.floor).c_str(),
                    count(r.exchanges).c_str(), fmt(r.cli_over).c_str(), fmt(r.app_over).c_str(),
                    fmt(r.cli_ratio, "%.3f").c_str(), fmt(r.floor / r.upnpc, "%.3f").c_str(),
                    fmt(r.cli_cpu).c_str(), fmt(r.app_cpu).c_str());
        if (r.mode == "igd")
            targets_of(r, targets);
    }
}

} // namespace

const Table listing_table = {"@listing", take, print};

int listing_step(const Args& a) {
    if (a.desc_url.empty() || a.cli.empty() || a.expect == 0 ||
        (a.mode != "igd" && a.mode != "igd2"))
        usage();
    const Listing listing{a, plan_for(a, true)};
    listing.run(0); // a warm-up round that also checks every side sees the whole table
    std::printf("%-4s %10s %10s %10s %10s\n", "run", "cli list", "window", "upnpc -l", "floor");
    std::vector<Run> runs;
    for (int number = 0; number < a.runs; ++number) {
        runs.push_back(listing.run(number));
        const Run& r = runs.back();
        std::printf("%-4d %10.1f %10.1f %10.1f %10.1f\n", number + 1, r.cli, r.app, r.upnpc,
                    r.floor.ms);
    }
    report(a, runs);
    return 0;
}
