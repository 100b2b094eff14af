// add and delete: one step per protocol, each reported as the router answered it; with --keep the
// mappings added stay until the process is asked to stop.
#pragma once

#include "Engine.h"
#include "keep.h"
#include "options.h"

namespace quaymap_cli {

constexpr int kExitRefused = 1, kExitUsage = 2, kExitNoRouter = 3, kExitUnreachable = 4,
              kExitIncomplete = 5;

int exit_status(const quaymap::CommandResult& result);
const char* command_name(Command command);

// Adds or deletes the mapping of each protocol asked for, and keeps what was added when asked
// to; the exit status of the first step that failed, else of the keep.
int run_steps(quaymap::Engine& engine, const Options& options, const quaymap::SearchOutcome& router,
              const KeepTime& time = signal_time());

} // namespace quaymap_cli
