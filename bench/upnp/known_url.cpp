// A known description URL, no discovery: `quaymap-cli --router URL list` next to
// `upnpc -u URL -l`, process start to exit. Its runs also give the processor-time table
// (known_url_cpu.cpp).
#include "figures.h"
#include "output_rows.h"
#include "processes.h"
#include "step_setup.h"
#include "tables.h"

#include <cstdio>

namespace {

struct Timed {
    double ms = 0, cpu_ms = 0;
};

Timed cli(const Args& a) {
    const Spawned s =
        spawn_timed({a.cli, "--router", a.desc_url, "list"}, {}, nullptr, kProcessLimitMs);
    check_rows("quaymap-cli --router URL list", cli_rows(s.out), a.expect, s.exit_code == 0);
    return {s.ms, s.cpu_ms};
}

Timed upnpc(const Args& a) {
    const Spawned s = spawn_timed({a.upnpc, "-u", a.desc_url, "-l"}, {}, nullptr, kProcessLimitMs);
    check_rows("upnpc -u URL -l", upnpc_rows(s.out), a.expect, s.exit_code == 0);
    return {s.ms, s.cpu_ms};
}

struct Row {
    std::string mode;
    double n, cli, upnpc, ratio;
};
std::vector<Row> rows;

void take(Fields& f) {
    Row r;
    r.mode = f.text();
    for (double* v : {&r.n, &r.cli, &r.upnpc, &r.ratio})
        *v = f.number();
    rows.push_back(r);
}

void print(Targets& targets) {
    if (rows.empty())
        return;
    std::printf("\nA known description URL, no discovery: process start to exit.\n\n");
    std::printf("| router | mappings | `quaymap-cli --router URL list` | `upnpc -u URL -l` | ratio "
                "|\n");
    std::printf("|---|---:|---:|---:|---:|\n");
    for (const Row& r : rows) {
        std::printf("| %s | %s | %s | %s | %s |\n", igd_name(r.mode).c_str(), count(r.n).c_str(),
                    fmt(r.cli).c_str(), fmt(r.upnpc).c_str(), fmt(r.ratio, "%.2f").c_str());
        targets.push_back({"`--router URL list` ≤ 1.0 × `upnpc -u URL -l` (" + igd_name(r.mode) +
                               ", " + count(r.n) + "): " + fmt(r.ratio, "%.2f") + "×",
                           r.ratio <= 1.0});
    }
}

} // namespace

const Table known_url_table = {"@router", take, print};

int known_url_step(const Args& a) {
    if (a.desc_url.empty() || a.cli.empty() || a.expect == 0 ||
        (a.mode != "igd" && a.mode != "igd2"))
        usage();
    cli(a); // warm-up rounds that also check both see the whole table
    upnpc(a);
    std::vector<double> cli_ms, upnpc_ms, ratio, cli_cpu, upnpc_cpu, cpu_ratio;
    std::printf("%-4s %14s %14s %14s %14s\n", "run", "cli --router", "upnpc -u -l", "cli cpu",
                "upnpc cpu");
    for (int run = 0; run < a.runs; ++run) {
        // Taking turns at going first.
        Timed c, u;
        if (run % 2 == 0) {
            c = cli(a);
            u = upnpc(a);
        } else {
            u = upnpc(a);
            c = cli(a);
        }
        cli_ms.push_back(c.ms);
        upnpc_ms.push_back(u.ms);
        ratio.push_back(c.ms / u.ms);
        cli_cpu.push_back(c.cpu_ms);
        upnpc_cpu.push_back(u.cpu_ms);
        cpu_ratio.push_back(c.cpu_ms / u.cpu_ms);
        std::printf("%-4d %14.1f %14.1f %14.1f %14.1f\n", run + 1, c.ms, u.ms, c.cpu_ms, u.cpu_ms);
    }
    std::printf("\n%s, %zu mappings, a known URL, medians of %d runs (ms)\n",
                igd_name(a.mode).c_str(), a.expect, a.runs);
    std::printf("  %-36s %9.1f   (%.3f x upnpc -u URL -l; %.1f ms of processor time, %.3f x)\n",
                "quaymap-cli --router URL list", median(cli_ms), median(ratio), median(cli_cpu),
                median(cpu_ratio));
    std::printf("  %-36s %9.1f   (%.1f ms of processor time)\n", "upnpc -u URL -l",
                median(upnpc_ms), median(upnpc_cpu));
    std::printf("@router %s %zu %.1f %.1f %.4f\n", a.mode.c_str(), a.expect, median(cli_ms),
                median(upnpc_ms), median(ratio));
    std::printf("@cpu %s %zu %.1f %.1f %.4f %.2f %.2f %.4f\n", a.mode.c_str(), a.expect,
                median(cli_ms), median(upnpc_ms), median(ratio), median(cli_cpu), median(upnpc_cpu),
                median(cpu_ratio));
    return 0;
}
