#include "figures.h"
#include "tables.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>

std::string igd_name(const std::string& mode) {
    return mode == "igd" ? "IGD v1" : "IGD v2";
}

std::string count(double n) {
    return fmt(n, "%.0f");
}

namespace {

const Table* const kTables[] = {&listing_table,       &pages_table,    &known_url_table,
                                &known_url_cpu_table, &verdict_table,  &gone_table,
                                &framing_table,       &survival_table, &keeper_table};

void heading(int runs, const std::vector<double>& loads) {
    std::printf("Medians of %d runs, milliseconds, each figure taken next to its peer in the same "
                "run; differences and ratios are taken run by run, then their median. The router "
                "runs without its debug log (miniupnpd without -d).",
                runs);
    if (!loads.empty())
        std::printf(" The machine's 1-minute load average ranged from %.2f to %.2f.",
                    *std::min_element(loads.begin(), loads.end()),
                    *std::max_element(loads.begin(), loads.end()));
    std::printf("\n");
}

} // namespace

int summary(const std::string& file) {
    std::ifstream in(file);
    if (!in)
        die("cannot read " + file);
    std::vector<double> loads;
    int runs = 0;
    for (std::string line; std::getline(in, line);) {
        Fields f;
        std::istringstream split(line);
        for (std::string word; split >> word;)
            f.words.push_back(word);
        if (f.words.empty())
            continue;
        if (f.words[0] == "@runs")
            runs = static_cast<int>(f.number());
        else if (f.words[0] == "@load")
            loads.push_back(f.number());
        for (const Table* table : kTables)
            if (f.words[0] == table->tag)
                table->take(f);
    }
    heading(runs, loads);
    Targets targets;
    for (const Table* table : kTables)
        table->print(targets);
    std::printf("\nTargets:\n\n");
    for (const Target& t : targets)
        std::printf("- %s: %s\n", t.text.c_str(), t.ok ? "met" : "**not met**");
    return 0;
}
