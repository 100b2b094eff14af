// What the router said, in words a user understands; the same texts in the window and on the
// command line.
#pragma once

#include "Engine.h"

#include <cstdint>
#include <string>

namespace quaymap {

// "done", "refused", "unreachable", "invalid".
const char* verdict_name(Verdict verdict);

// The port a row names, when its text is a whole number from 1 to 65535.
bool port_of(const std::string& text, uint16_t& port);

// False for addresses that never reach the internet as they are: 0.0.0.0, 10/8, 100.64/10
// (carrier-grade NAT), 127/8, 169.254/16, 172.16/12, 192.168/16, and anything not dotted IPv4.
bool is_public_address(const std::string& address);
// The warning to show beside a public address that is not one; empty when it is.
std::string double_nat_warning(const std::string& address);

// "permanent", "6 d 23 h", "2 h 5 min", "12 min", "40 s"; empty when the text is no number.
std::string lease_text(const std::string& seconds);
// "8080", or "2222 → 22" when the traffic goes to another port inside.
std::string ports_text(const Mapping& row);

// The explanation of a refused or failed command. `what` names the command ("add the mapping",
// "delete the mapping", "read the public address", "read the mappings"); `holder` is the
// mapping that holds the port after a 718 refusal (empty fields when nobody does).
std::string refusal_text(const std::string& what, int code, const std::string& description,
                         const std::string& port_protocol, const Mapping* holder,
                         const std::string& requested_client);
std::string unreachable_text(const std::string& what, const std::string& router);

// "The router did not list every mapping (entry 2: 501 Action Failed; entries 5 to 7: HTTP 500
// Internal Server Error).": the first few runs of entries with one reason; empty for none.
std::string unread_text(const std::vector<Unread>& unread);

} // namespace quaymap
