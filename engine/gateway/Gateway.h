// One kind of router behind the engine's commands: a UPnP IGD or a NAT-PMP gateway today, PCP and
// the IPv6 firewall next. The search chooses one; the commands call it without asking its kind,
// and each gateway turns its protocol's failures into the shared verdicts and words.
//
// Any thread may call a gateway: each takes its client's lock for one exchange (or one step of a
// listing) at a time, never for a whole command, so a command waits at most one exchange.
#pragma once

#include "Engine.h"
#include "rules.h"

namespace quaymap {

class Gateway {
  public:
    // What the router can do, for the rules a request meets before anything is sent.
    struct Abilities {
        bool lists_table = false;     // it hands over its whole table
        bool maps_for_others = false; // a mapping may send traffic to another computer
        bool named_inside = false; // a mapping is named by this computer's port, not the router's
    };

    virtual ~Gateway() = default;
    virtual RouterKind kind() const = 0;
    virtual Abilities abilities() const = 0;
    // The router's name in the record: its device UDN, else its address.
    virtual std::string identity() const = 0;

    virtual CommandResult list(const RowSink& row) = 0;
    // A request the rules have passed: protocol in capitals, both ports and the client set.
    virtual CommandResult add(const AddRequest& request) = 0;
    virtual CommandResult remove(const Mapping& row) = 0;
    virtual CommandResult renew(const Mapping& row) = 0;
    virtual CommandResult public_address() = 0;
    // Engine::check(), announcements() and restarted(), for this router.
    virtual CommandResult check(const Mapping& row) = 0;
    virtual int announcements() = 0;
    virtual bool restarted(std::string& why) = 0;
};

} // namespace quaymap
