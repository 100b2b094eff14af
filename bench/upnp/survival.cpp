// A large table on a router that must survive being listed: `quaymap-cli list`, then whether
// the router still runs and `upnpc -l` still lists the whole table. The lab's miniupnpd dies
// when one GetListOfPortMappings answer would hold more than 128 mappings of a protocol.
#include "figures.h"
#include "lab_router.h"
#include "output_rows.h"
#include "processes.h"
#include "tables.h"

#include <algorithm>
#include <cstdio>

namespace {

struct Row {
    std::string mode;
    double n, runs, fewest_rows, ms, alive, upnpc_rows;
};
std::vector<Row> rows;

void take(Fields& f) {
    Row r;
    r.mode = f.text();
    for (double* v : {&r.n, &r.runs, &r.fewest_rows, &r.ms, &r.alive, &r.upnpc_rows})
        *v = f.number();
    rows.push_back(r);
}

void print(Targets& targets) {
    if (rows.empty())
        return;
    std::printf("\nA large table: `quaymap-cli list` run after run (stopping at the first run "
                "that leaves the router dead), then the router: its process, and `upnpc -l` "
                "listing the table.\n\n");
    std::printf("| router | mappings | runs | fewest rows listed | `quaymap-cli list` | router "
                "afterwards |\n");
    std::printf("|---|---:|---:|---:|---:|---|\n");
    for (const Row& r : rows) {
        const std::string after = r.alive > 0 ? "alive: `upnpc -l` lists " + count(r.upnpc_rows)
                                              : "**dead**: `upnpc -l` lists " + count(r.upnpc_rows);
        std::printf("| %s | %s | %s | %s | %s | %s |\n", igd_name(r.mode).c_str(),
                    count(r.n).c_str(), count(r.runs).c_str(), count(r.fewest_rows).c_str(),
                    fmt(r.ms).c_str(), after.c_str());
        targets.push_back({igd_name(r.mode) + " at " + count(r.n) + " mappings listed whole (" +
                               count(r.fewest_rows) + " rows at the fewest) and the router alive",
                           r.fewest_rows == r.n && r.alive > 0});
    }
}

} // namespace

const Table survival_table = {"@survival", take, print};

int survival_step(const Args& a) {
    if (a.desc_url.empty() || a.cli.empty() || a.router_pid.empty() || a.expect == 0)
        usage();
    if (!router_process_alive(a.router_pid))
        die("the router is not running before the first listing");
    std::vector<double> whole_ms;
    size_t fewest = a.expect, upnpc_listed = 0;
    bool alive = true;
    int run = 0;
    std::printf("%-4s %10s %10s %14s %8s\n", "run", "cli list", "rows", "upnpc -l rows", "router");
    while (alive && run < a.runs) {
        const Spawned c = spawn_timed({a.cli, "list"}, {}, nullptr, kProcessLimitMs);
        const size_t listed = cli_rows(c.out);
        fewest = std::min(fewest, listed);
        if (c.exit_code == 0 && listed == a.expect)
            whole_ms.push_back(c.ms);
        const Spawned u = spawn_timed({a.upnpc, "-l"}, {}, nullptr, kProcessLimitMs);
        upnpc_listed = u.exit_code == 0 ? upnpc_rows(u.out) : 0;
        alive = router_process_alive(a.router_pid) && upnpc_listed == a.expect;
        std::printf("%-4d %10.1f %10zu %14zu %8s\n", ++run, c.ms, listed, upnpc_listed,
                    alive ? "alive" : "DEAD");
    }
    std::printf("\n%s, %zu mappings: %d runs of quaymap-cli list, %zu rows at the fewest "
                "(median %.1f ms over whole listings); the router is %s\n",
                igd_name(a.mode).c_str(), a.expect, run, fewest, median(whole_ms),
                alive ? "alive" : "dead");
    std::printf("@survival %s %zu %d %zu %.1f %d %zu\n", a.mode.c_str(), a.expect, run, fewest,
                median(whole_ms), alive ? 1 : 0, upnpc_listed);
    return 0;
}
