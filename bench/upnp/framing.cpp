// Routers that frame their answers otherwise than miniupnpd: chunked bodies and connections
// kept open, through the lab's re-framing relay (lab_relay) in front of miniupnpd.
// `quaymap-cli --router URL list` at the relay's URLs next to `upnpc -u URL -l` and to the
// router's floor for a known URL (the description and the listing, no SSDP).
#include "UpnpNat.h"
#include "figures.h"
#include "output_rows.h"
#include "processes.h"
#include "step_setup.h"
#include "tables.h"

#include <algorithm>
#include <cstdio>

namespace {

struct Variant {
    const char* key;
    const char* words;
    uint16_t port; // of the relay; 0: miniupnpd itself
};
const Variant kVariants[] = {
    {"direct", "Content-Length, then the close (miniupnpd itself)", 0},
    {"chunked", "chunked, then the close", 5001},
    {"keep", "Content-Length, kept open", 5002},
    {"chunked-keep", "chunked, kept open", 5003},
};
constexpr size_t kCount = sizeof kVariants / sizeof kVariants[0];

// What one variant gave across the runs.
struct Figures {
    std::vector<double> cli, over, upnpc;
    size_t fewest_rows = static_cast<size_t>(-1);
};

struct Framing {
    const Args& a;
    std::string host, path;
    uint16_t port = 0;

    std::string url(const Variant& v) const {
        return "http://" + host + ":" + std::to_string(v.port ? v.port : port) + path;
    }
    std::vector<std::string> relay() const {
        std::vector<std::string> argv = {"ip",
                                         "netns",
                                         "exec",
                                         "quaymap-router",
                                         a.relay,
                                         "--to",
                                         host + ":" + std::to_string(port)};
        for (const Variant& v : kVariants)
            if (v.port)
                argv.insert(argv.end(), {"--port", std::to_string(v.port) + ":" + v.key});
        return argv;
    }
    // A client that fails here is a figure, not the end of the bench.
    void measure(const Variant& v, double floor, Figures& f) const {
        const Spawned c =
            spawn_timed({a.cli, "--router", url(v), "list"}, {}, nullptr, kProcessLimitMs);
        const size_t rows = c.exit_code == 0 ? cli_rows(c.out) : 0;
        f.fewest_rows = std::min(f.fewest_rows, rows);
        f.cli.push_back(rows == a.expect ? c.ms : kNone);
        f.over.push_back(rows == a.expect ? c.ms - floor : kNone);
        const Spawned u = spawn_timed({a.upnpc, "-u", url(v), "-l"}, {}, nullptr, kProcessLimitMs);
        f.upnpc.push_back(u.exit_code == 0 && upnpc_rows(u.out) == a.expect ? u.ms : kNone);
    }
};

struct Row {
    std::string key;
    double n, cli, over, upnpc, floor, rows;
};
std::vector<Row> rows;

void take(Fields& f) {
    Row r;
    r.key = f.text();
    for (double* v : {&r.n, &r.cli, &r.over, &r.upnpc, &r.floor, &r.rows})
        *v = f.number();
    rows.push_back(r);
}

const char* words_of(const std::string& key) {
    for (const Variant& v : kVariants)
        if (key == v.key)
            return v.words;
    return "?";
}

void print(Targets& targets) {
    if (rows.empty())
        return;
    std::printf("\nA router that frames its answers otherwise (IGD v1; lab_relay in front of "
                "miniupnpd, chunks of random sizes): `quaymap-cli --router URL list` to the full "
                "table, next to `upnpc -u URL -l` (– where it failed) and to the router's floor "
                "for a known URL (the description and the index walk, timed raw).\n\n");
    std::printf("| answers | mappings | `quaymap-cli --router URL list` | cli - floor | "
                "`upnpc -u URL -l` | floor |\n");
    std::printf("|---|---:|---:|---:|---:|---:|\n");
    for (const Row& r : rows) {
        std::printf("| %s | %s | %s | %s | %s | %s |\n", words_of(r.key), count(r.n).c_str(),
                    r.rows == r.n ? fmt(r.cli).c_str()
                                  : ("failed: " + count(r.rows) + " rows").c_str(),
                    fmt(r.over).c_str(), fmt(r.upnpc).c_str(), fmt(r.floor).c_str());
        targets.push_back({std::string("`--router URL list`, answers ") + words_of(r.key) + " (" +
                               count(r.n) + "): all rows, floor + " + fmt(r.over) + " ≤ 40 ms",
                           r.rows == r.n && r.over <= 40});
    }
}

} // namespace

const Table framing_table = {"@framing", take, print};

int framing_step(const Args& a) {
    if (a.desc_url.empty() || a.cli.empty() || a.relay.empty() || a.expect == 0 || a.mode != "igd")
        usage();
    Framing framing{a, {}, {}, 0};
    if (!UpnpNat::parse_url(a.desc_url, framing.host, framing.port, framing.path))
        die("not a description URL: " + a.desc_url);
    const FloorPlan plan = plan_for(a, false);
    const Background relay(framing.relay(), "ready");
    std::vector<Figures> figures(kCount);
    std::vector<double> floors;
    std::printf("%-4s %8s", "run", "floor");
    for (const Variant& v : kVariants)
        std::printf(" %13s", v.key);
    std::printf("\n");
    for (int run = -1; run < a.runs; ++run) { // run -1 warms up
        const Floor floor = router_floor(plan);
        check_rows("the raw floor exchanges", floor.entries, a.expect, floor.ok);
        std::vector<Figures> these(kCount);
        for (size_t k = 0; k < kCount; ++k) { // each takes its turn at going first
            const size_t i = (k + static_cast<size_t>(run + 1)) % kCount;
            framing.measure(kVariants[i], floor.ms, these[i]);
        }
        if (run < 0)
            continue;
        floors.push_back(floor.ms);
        std::printf("%-4d %8.1f", run + 1, floor.ms);
        for (size_t i = 0; i < kCount; ++i) {
            std::printf(" %13.1f", these[i].cli[0]);
            figures[i].cli.push_back(these[i].cli[0]);
            figures[i].over.push_back(these[i].over[0]);
            figures[i].upnpc.push_back(these[i].upnpc[0]);
            figures[i].fewest_rows = std::min(figures[i].fewest_rows, these[i].fewest_rows);
        }
        std::printf("\n");
    }
    std::printf("\nIGD v1, %zu mappings, a known URL, medians of %d runs (ms)\n", a.expect, a.runs);
    for (size_t i = 0; i < kCount; ++i) {
        const Figures& f = figures[i];
        std::printf("  %-52s %9.1f   (floor %+.1f; upnpc -u %.1f; fewest rows %zu)\n",
                    kVariants[i].words, median(f.cli), median(f.over), median(f.upnpc),
                    f.fewest_rows);
        std::printf("@framing %s %zu %.1f %.1f %.1f %.1f %zu\n", kVariants[i].key, a.expect,
                    median(f.cli), median(f.over), median(f.upnpc), median(floors), f.fewest_rows);
    }
    return 0;
}
