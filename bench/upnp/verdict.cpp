// The search outcome per kind of router: quaymap-cli status from start to exit, the window
// from start to its "search result" line.
#include "figures.h"
#include "processes.h"
#include "tables.h"

#include <cmath>
#include <cstdio>

namespace {

// The outcome word of a search, from quaymap-cli status.
std::string cli_outcome(const Spawned& s) {
    if (s.exit_code == 3)
        return "none";
    if (s.exit_code != 0)
        return "exit" + std::to_string(s.exit_code);
    if (s.out.find("(NAT-PMP)") != std::string::npos)
        return "natpmp";
    if (s.out.find("IGD v1") != std::string::npos)
        return "igd1";
    if (s.out.find("IGD v2") != std::string::npos)
        return "igd2";
    return "unknown";
}

// The window logs exactly one "search result: ..." line per search.
std::string window_outcome(const std::string& err) {
    static const std::string head = "search result: ";
    const size_t at = err.find(head);
    if (at == std::string::npos)
        return "";
    const size_t end = err.find('\n', at);
    const std::string text = err.substr(at + head.size(), end - at - head.size());
    if (text.compare(0, 6, "natpmp") == 0)
        return "natpmp";
    if (text.compare(0, 9, "upnp igd1") == 0)
        return "igd1";
    if (text.compare(0, 9, "upnp igd2") == 0)
        return "igd2";
    return text;
}

double cli_search(const Args& a, const std::string& expected) {
    const Spawned s = spawn_timed({a.cli, "status"}, {}, nullptr, kProcessLimitMs);
    if (cli_outcome(s) != expected)
        die("quaymap-cli status found " + cli_outcome(s) + ", not " + expected);
    return s.ms;
}

double window_search(const Args& a, const std::string& expected) {
    const Until search_line = [](const std::string&, const std::string& err) {
        const size_t at = err.find("search result: ");
        return at != std::string::npos && err.find('\n', at) != std::string::npos;
    };
    const Spawned s = spawn_timed({a.app}, kOffscreen, search_line, kProcessLimitMs);
    if (!s.met || window_outcome(s.err) != expected)
        die("the window's search found \"" + window_outcome(s.err) + "\", not " + expected);
    return s.ms;
}

struct Row {
    std::string mode, outcome;
    double cli, app;
};
std::vector<Row> rows;

void take(Fields& f) {
    Row r;
    r.mode = f.text();
    r.outcome = f.text();
    r.cli = f.number();
    r.app = f.number();
    rows.push_back(r);
}

void print(Targets& targets) {
    if (rows.empty())
        return;
    std::printf("\nSearch outcome: `quaymap-cli status` from start to exit; the window from start "
                "to its \"search result\" line.\n\n");
    std::printf("| lab mode | outcome | `quaymap-cli status` | window | target |\n");
    std::printf("|---|---|---:|---:|---:|\n");
    for (const Row& r : rows) {
        const double limit = r.mode == "natpmp" ? 5000 : r.mode == "none" ? 6000 : kNone;
        const std::string words = std::isnan(limit) ? "about 100" : "≤ " + fmt(limit, "%.0f");
        std::printf("| %s | %s | %s | %s | %s |\n", r.mode.c_str(), r.outcome.c_str(),
                    fmt(r.cli).c_str(), fmt(r.app).c_str(), words.c_str());
        // "About 0.1 s" for an IGD router: taken as within twice that.
        const double bound = std::isnan(limit) ? 200 : limit;
        targets.push_back({"`quaymap-cli status`, " + r.mode + ": " + fmt(r.cli) + " ms, " + words,
                           r.cli <= bound});
        if (!std::isnan(r.app))
            targets.push_back({"window's search, " + r.mode + ": " + fmt(r.app) + " ms, " + words,
                               r.app <= bound});
    }
}

} // namespace

const Table verdict_table = {"@verdict", take, print};

int verdict_step(const Args& a) {
    if (a.cli.empty() || (a.mode != "igd" && a.mode != "natpmp" && a.mode != "none"))
        usage();
    const std::string expected = a.mode == "igd" ? "igd1" : a.mode;
    std::vector<double> cli_ms, app_ms;
    std::printf("%-4s %16s %16s\n", "run", "cli status", "window search");
    for (int run = 0; run < a.runs; ++run) {
        double c = 0, w = kNone;
        // Taking turns at going first.
        if (a.app.empty() || run % 2 == 0) {
            c = cli_search(a, expected);
            if (!a.app.empty())
                w = window_search(a, expected);
        } else {
            w = window_search(a, expected);
            c = cli_search(a, expected);
        }
        cli_ms.push_back(c);
        app_ms.push_back(w);
        std::printf("%-4d %16.1f %16.1f\n", run + 1, c, w);
    }
    std::printf("\nSearch outcome in mode %s (%s), medians of %d runs (ms)\n", a.mode.c_str(),
                expected.c_str(), a.runs);
    std::printf("  %-36s %9.1f\n", "quaymap-cli status (start to exit)", median(cli_ms));
    if (!a.app.empty())
        std::printf("  %-36s %9.1f\n", "window (start to search result)", median(app_ms));
    std::printf("@verdict %s %s %.1f %.1f\n", a.mode.c_str(), expected.c_str(), median(cli_ms),
                median(app_ms));
    return 0;
}
