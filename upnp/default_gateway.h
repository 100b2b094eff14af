#pragma once

#include <string>

namespace upnp_detail {

// The IPv4 default gateway of this computer's routing table, dotted; empty when it has none.
std::string system_default_gateway();

} // namespace upnp_detail
