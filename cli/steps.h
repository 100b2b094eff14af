// add and delete: one step per protocol, each reported as the router answered it; with --keep the
// mappings added are kept (as quaymap-cli keep keeps them) until the process is asked to stop.
#pragma once

#include "Engine.h"
#include "keep.h"
#include "options.h"
#include "rules.h"

namespace quaymap_cli {

const char* command_name(Command command);

// Adds or deletes the mapping of each protocol asked for, and keeps what was added when asked
// to; the exit status of the first step that failed, else of the keep.
int run_steps(quaymap::Engine& engine, const Options& options, const quaymap::SearchOutcome& router,
              const KeepTime& time = signal_time());

} // namespace quaymap_cli
