// This computer's own address on the network that leads to a host.
#pragma once

#include <string>

namespace quaymap {

// The local IPv4 address the system would send from to reach the host (a dotted-decimal
// address), found by connecting a UDP socket, which sends nothing. Empty when there is none.
std::string local_address_towards(const std::string& host);

} // namespace quaymap
