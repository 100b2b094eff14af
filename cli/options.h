// The command line of quaymap-cli, read into one value; no I/O.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quaymap_cli {

enum class Command { none, help, version, status, list, add, remove, keep, forget };

struct Options {
    Command command = Command::none;
    bool json = false;
    bool verbose = false;
    bool keep = false;
    bool check = false;         // keep --check: only read the keep file
    std::string keep_file;      // keep FILE
    std::string router_url;     // --router URL: a known description URL, no discovery
    std::string router_address; // --router ADDRESS: the router found at that address
    // add, delete and forget
    std::string name;
    uint16_t external_port = 0;
    uint16_t internal_port = 0;         // 0: the external port
    std::vector<std::string> protocols; // "TCP", "UDP" or both
    std::string address;                // add: empty for this computer
    int64_t lease = -1;                 // add: -1 for the longest the router allows
};

// Reads argv[1..]; on false `error` says what is wrong with the command line.
bool parse_options(const std::vector<std::string>& arguments, Options& options, std::string& error);

extern const char* const kUsage;

} // namespace quaymap_cli
