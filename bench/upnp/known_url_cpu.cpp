// The known-URL runs by processor time as well as wall time: what a listing costs the
// computer, not only how long it takes.
#include "figures.h"
#include "tables.h"

#include <algorithm>
#include <cstdio>

namespace {

struct Row {
    std::string mode;
    double n, cli, upnpc, ratio, cli_cpu, upnpc_cpu, cpu_ratio;
};
std::vector<Row> rows;

void take(Fields& f) {
    Row r;
    r.mode = f.text();
    for (double* v : {&r.n, &r.cli, &r.upnpc, &r.ratio, &r.cli_cpu, &r.upnpc_cpu, &r.cpu_ratio})
        *v = f.number();
    rows.push_back(r);
}

// Bounded on the largest IGD v1 table measured, where the index walk's exchanges outweigh
// starting the process (its wall time is bounded with the known-URL table's).
void target_of(const Row& r, Targets& targets) {
    targets.push_back({"`--router URL list` ≤ 1.0 × `upnpc -u URL -l` in processor time (IGD v1, " +
                           count(r.n) + "): " + fmt(r.cpu_ratio, "%.2f") + "×",
                       r.cpu_ratio <= 1.0});
}

void print(Targets& targets) {
    if (rows.empty())
        return;
    std::printf("\nA known description URL, wall time and processor time (user and system time "
                "of the process), each ratio taken run by run.\n\n");
    std::printf("| router | mappings | `quaymap-cli --router URL list` | `upnpc -u URL -l` | ratio "
                "| processor time, cli | processor time, `upnpc` | ratio |\n");
    std::printf("|---|---:|---:|---:|---:|---:|---:|---:|\n");
    double largest = 0;
    for (const Row& r : rows) {
        std::printf("| %s | %s | %s | %s | %s | %s | %s | %s |\n", igd_name(r.mode).c_str(),
                    count(r.n).c_str(), fmt(r.cli).c_str(), fmt(r.upnpc).c_str(),
                    fmt(r.ratio, "%.2f").c_str(), fmt(r.cli_cpu, "%.2f").c_str(),
                    fmt(r.upnpc_cpu, "%.2f").c_str(), fmt(r.cpu_ratio, "%.2f").c_str());
        if (r.mode == "igd")
            largest = std::max(largest, r.n);
    }
    for (const Row& r : rows)
        if (r.mode == "igd" && r.n == largest)
            target_of(r, targets);
}

} // namespace

const Table known_url_cpu_table = {"@cpu", take, print};
