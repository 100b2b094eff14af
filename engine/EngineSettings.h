// What a face wants of the engine it builds. The protocols' own limits and addresses keep their
// defaults, which are a real network's.
#pragma once

#include "Engine.h"

#include <cstdio>
#include <functional>
#include <memory>
#include <string>

namespace quaymap {

struct EngineSettings {
    // Where "quaymap.log" (the router's answer to the latest add) goes; empty: nowhere.
    std::string log_folder;
    // Where the protocol trace goes (the router's answers as they came); nullptr: nowhere.
    std::FILE* console = nullptr;
    // A known description URL: no search, the router that it describes is used.
    std::string description_url;
    // The router found at this address is used; empty: the default gateway's.
    std::string router_address;
    // Asked between the exchanges of one command (an add and its lookup): once it answers true,
    // no further exchange starts and the command ends with what it has.
    std::function<bool()> stop_requested;
    // The folder of the record of what QuayMap made (default_record_folder()); empty: no record.
    std::string record_folder;
    // Hears what the user must know of the record (a damaged file kept aside, a failed write),
    // which also goes to the log.
    std::function<void(const std::string&)> notice;
};

// The engine over the real routers and the process's protocol clients.
std::unique_ptr<Engine> make_engine(const EngineSettings& settings);

} // namespace quaymap
