// This computer's own address on the network that leads to a host.
#pragma once

#include <QString>
#include <string>

// The local IPv4 address the system would send from to reach the host (a dotted-decimal
// address), found by connecting a UDP socket, which sends nothing. Empty when there is none.
QString localAddressTowards(const std::string& host);
