// Keeping mappings alive: renewed before their lease ends until the process is asked to stop,
// then deleted.
#pragma once

#include "Engine.h"
#include "output.h"

#include <vector>

namespace quaymap_cli {

// Half the lease, in seconds: a day at most, and none (wait for the signal) for a permanent one.
long renewal_delay(const MappingRecord& row);

// Returns once SIGINT, SIGTERM or SIGHUP arrives and the mappings have been deleted; the exit
// status is that of the deletes.
int keep_mappings(quaymap::Engine& engine, std::vector<Step>& steps);

} // namespace quaymap_cli
