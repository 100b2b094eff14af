// What the listing steps share: the router's service as QuayMap's client sees it, and the
// check that a client listed the whole table.
#pragma once

#include "UpnpNat.h"
#include "args.h"
#include "router_floor.h"

#include <cstddef>
#include <string>

// Opens the description with QuayMap's client, its prints silenced.
void open_quietly(UpnpNat& nat, const std::string& url);

// The floor's plan for the router at `a.desc_url`, whose IGD version must be the lab mode's.
FloorPlan plan_for(const Args& a, bool search);

// Dies unless the client succeeded with `n` rows.
void check_rows(const std::string& who, size_t rows, size_t n, bool ok);
