#pragma once

#include <string>

namespace upnp_detail {

// Waits up to `timeout_ms` for `fd` to become readable (data, peer close or error).
bool wait_readable(int fd, int timeout_ms);
// Hands the whole text to the socket within `timeout_ms`; a peer that has gone away or stopped
// reading shows up later as a missing answer, never as a signal or a hang. Leaves the socket
// non-blocking.
void send_whole(int fd, const std::string& text, int timeout_ms);
void pause_ms(int ms);
bool set_nonblocking(int fd, bool on);

} // namespace upnp_detail
