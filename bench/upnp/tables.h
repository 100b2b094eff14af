// The README's tables. Each step measures and prints, besides its figures, result lines
// ("@tag value..."); the summary hands each line to the table of its tag, then prints the
// tables in order and every target they checked.
#pragma once

#include "args.h"

#include <cstdlib>
#include <string>
#include <vector>

// A result line, word by word; numbers through strtod, which also reads "nan".
struct Fields {
    std::vector<std::string> words;
    size_t at = 1;
    std::string text() { return at < words.size() ? words[at++] : std::string(); }
    double number() {
        return at < words.size() ? std::strtod(words[at++].c_str(), nullptr)
                                 : std::strtod("nan", nullptr);
    }
};

struct Target {
    std::string text;
    bool ok;
};
using Targets = std::vector<Target>;

struct Table {
    const char* tag; // of its result lines, "@" included
    void (*take)(Fields&);
    void (*print)(Targets&);
};

// In the order the summary prints them.
extern const Table listing_table, pages_table, known_url_table, known_url_cpu_table, verdict_table,
    gone_table, framing_table, survival_table, keeper_table;

// The steps, each in the file of its table.
int listing_step(const Args& a);
int pages_step(const Args& a);
int known_url_step(const Args& a); // for known_url_table and known_url_cpu_table
int verdict_step(const Args& a);
int gone_step(const Args& a);
int framing_step(const Args& a);
int survival_step(const Args& a);
int keeper_step(const Args& a);
int summary(const std::string& file);

// "IGD v1" for lab mode igd, "IGD v2" for igd2.
std::string igd_name(const std::string& mode);
// A count of mappings or exchanges.
std::string count(double n);
