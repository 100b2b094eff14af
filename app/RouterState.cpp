#include "RouterState.h"

std::atomic<bool> router_found{false};
std::atomic<bool> apple_router{false};
