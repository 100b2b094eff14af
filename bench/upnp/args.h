// The command line of upnp_lab_bench's steps.
#pragma once

#include <cstddef>
#include <string>

struct Args {
    std::string mode, desc_url, cli, app, upnpc = "upnpc", lab, relay, router_pid;
    int runs = 7;
    int seconds = 600; // keeper: how long each program keeps its mappings
    size_t expect = 0;
};

[[noreturn]] void usage();

// The options after the step's name.
Args parse_args(int argc, char** argv);
