// The lab's side of the bench: where it may run, and what the router did.
#pragma once

#include <string>

// Every step but summary sends to the router (and SSDP to the multicast group): only ever
// from inside the lab's LAN namespace.
bool inside_lab_namespace();

// Counts, at the router, the connections made to its HTTP port from the LAN: how many
// exchanges a client really had (the router runs without the log that would tell).
class RouterConnections {
  public:
    explicit RouterConnections(int http_port);
    ~RouterConnections();
    RouterConnections(const RouterConnections&) = delete;
    RouterConnections& operator=(const RouterConnections&) = delete;
    long count() const;
};

// The router's process still runs (its pid in `pid_file`).
bool router_process_alive(const std::string& pid_file);
