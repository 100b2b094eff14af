// IGD v2, in process after open_description: the client's listing by GetListOfPortMappings
// pages next to the GetGenericPortMappingEntry index walk on the same router.
#include "figures.h"
#include "lab_router.h"
#include "step_setup.h"
#include "tables.h"

#include <cstdio>

namespace {

// One listing read step by step: each read_mappings call is one exchange with the router,
// which the router's own count must show.
int counted_listing(UpnpNat& nat, const RouterConnections& connections, size_t& rows) {
    nat.mappings.clear();
    nat.mapping_lines.clear();
    const long before = connections.count();
    UpnpNat::MappingCursor cursor;
    int steps = 0;
    while (!cursor.done) {
        nat.read_mappings(cursor);
        ++steps;
    }
    rows = nat.mappings.size();
    const long seen = connections.count() - before;
    if (seen != steps)
        die("the router had " + std::to_string(seen) + " connections; the client counted " +
            std::to_string(steps) + " exchanges");
    return steps;
}

double timed_listing(UpnpNat& nat, size_t n) {
    const Clock::time_point start = Clock::now();
    const bool ok = nat.get_port_mappings();
    const double ms = ms_since(start);
    if (!ok || nat.mappings.size() != n)
        die("in-process listing failed");
    return ms;
}

struct Row {
    double n, pages, walk, page_steps, walk_steps;
};
std::vector<Row> rows;

void take(Fields& f) {
    Row r;
    for (double* v : {&r.n, &r.pages, &r.walk, &r.page_steps, &r.walk_steps})
        *v = f.number();
    rows.push_back(r);
}

void print(Targets& targets) {
    if (rows.empty())
        return;
    std::printf("\nIGD v2, in process after `open_description(url)`: `get_port_mappings()` by "
                "GetListOfPortMappings pages and, on the same router, by the "
                "GetGenericPortMappingEntry index walk (exchanges counted by the client and, as "
                "connections, at the router).\n\n");
    std::printf("| mappings | pages (exchanges) | index walk (exchanges) | pages / walk |\n");
    std::printf("|---:|---:|---:|---:|\n");
    const Row* largest = &rows.front();
    for (const Row& r : rows) {
        std::printf("| %s | %s (%s) | %s (%s) | %s |\n", count(r.n).c_str(),
                    fmt(r.pages, "%.2f").c_str(), count(r.page_steps).c_str(),
                    fmt(r.walk, "%.2f").c_str(), count(r.walk_steps).c_str(),
                    fmt(r.pages / r.walk, "%.3f").c_str());
        if (r.n > largest->n)
            largest = &r;
    }
    targets.push_back({"v2 pages ≤ 0.2 × index walk (" + count(largest->n) +
                           "): " + fmt(largest->pages / largest->walk, "%.3f") + "×",
                       largest->pages <= 0.2 * largest->walk});
}

} // namespace

const Table pages_table = {"@walk", take, print};

int pages_step(const Args& a) {
    if (a.desc_url.empty() || a.expect == 0)
        usage();
    const size_t n = a.expect;
    // Naming the v1 service makes the client walk the indexes; miniupnpd takes that action
    // name on its v2 control URL.
    UpnpNat pages, walk;
    open_quietly(pages, a.desc_url);
    open_quietly(walk, a.desc_url);
    if (pages.igd_version != 2)
        die("pages need an IGD v2 router");
    walk.service_type = SERVICE_WANIP;
    std::string host, path;
    uint16_t port = 0;
    UpnpNat::parse_url(pages.control_url, host, port, path);
    size_t page_rows = 0, walk_rows = 0;
    int page_steps = 0, walk_steps = 0;
    {
        const RouterConnections connections(port);
        page_steps = counted_listing(pages, connections, page_rows);
        walk_steps = counted_listing(walk, connections, walk_rows);
    }
    if (page_rows != n || walk_rows != n)
        die("in process: pages listed " + std::to_string(page_rows) + ", the walk " +
            std::to_string(walk_rows) + " of " + std::to_string(n));
    if (walk_steps != static_cast<int>(n) + 1)
        die("the walk took " + std::to_string(walk_steps) + " exchanges, not one per index");
    std::vector<double> page_ms, walk_ms;
    for (int run = 0; run < a.runs; ++run) {
        const bool pages_first = run % 2 == 0;
        (pages_first ? page_ms : walk_ms).push_back(timed_listing(pages_first ? pages : walk, n));
        (pages_first ? walk_ms : page_ms).push_back(timed_listing(pages_first ? walk : pages, n));
    }
    std::printf("IGD v2, %zu mappings, in process after open_description (ms, medians)\n", n);
    std::printf("  %-36s %9.1f   (%d exchanges, as many connections at the router)\n",
                "GetListOfPortMappings pages", median(page_ms), page_steps);
    std::printf("  %-36s %9.1f   (%d exchanges, as many connections at the router)\n",
                "GetGenericPortMappingEntry walk", median(walk_ms), walk_steps);
    std::printf("  %-36s %9.3f\n", "pages / walk", median(page_ms) / median(walk_ms));
    std::printf("@walk %zu %.2f %.2f %d %d\n", n, median(page_ms), median(walk_ms), page_steps,
                walk_steps);
    return 0;
}
