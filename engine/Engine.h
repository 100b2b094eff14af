// The engine that the window and the command line share: finding the router and every command
// on it, with results in words a user understands. Qt-free; the window's tests script it.
//
// Threads: every call blocks its caller for as long as the router takes (each within its
// budget: a search 6 s, a command 10 s), so a face with a window calls them off its main thread.
// Commands may come from several threads at once and a listing may run beside them: the engine
// takes each protocol client's lock for one exchange at a time, never for a whole command or
// table. One search at a time; the search asks NAT-PMP on a thread of its own, joined before it
// returns.
#pragma once

#include "Mapping.h"
#include "RecordEntry.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quaymap {

enum class RouterKind { none, igd1, igd2, natpmp };

// One router a search found.
struct RouterChoice {
    RouterKind kind = RouterKind::none;
    std::string name;
    std::string address;
};

// What a search found.
struct SearchOutcome {
    RouterKind kind = RouterKind::none;
    std::string name;           // the router's friendly name; "AirPort Station" for NAT-PMP
    std::string address;        // the router's own LAN address
    std::string lan_address;    // this computer's address on the router's network
    std::string public_address; // empty when the router did not tell
    std::string reason;         // why no router was found
    // Every router found, the one commands act on first; more than one only where several
    // IGDs answered (the default gateway's is chosen).
    std::vector<RouterChoice> routers;
};

struct SearchOptions {
    bool read_public_address = true; // one exchange a listing alone does not need
};

enum class Verdict {
    done,        // the router confirmed
    refused,     // the router answered no
    unreachable, // no connection, or no answer
    invalid,     // nothing was sent: the request itself cannot be right
};

struct CommandResult {
    Verdict verdict = Verdict::done;
    std::string message;     // for the user; empty when done
    int upnp_error_code = 0; // the router's own refusal, when it gave one
    std::string upnp_error;  // its description, e.g. "ConflictInMappingEntry"
    Mapping row;             // add and renew: the mapping as the router now holds it
    std::string address;     // public_address: the address read
    bool rows_cut = false;   // list: the router listed more than is ever read
    bool held = false;       // check: the router still holds the mapping as it was made
    // list: what the router did not hand over, and why.
    std::vector<Unread> unread;
    bool ok() const { return verdict == Verdict::done; }
    // list: every mapping the router holds was read (a row may have come twice).
    bool complete() const { return ok() && !rows_cut && unread.empty(); }
};

struct AddRequest {
    std::string name;
    uint16_t external_port = 0;
    uint16_t internal_port = 0;  // 0: the external port
    std::string protocol;        // "TCP" or "UDP", any case
    std::string internal_client; // empty: this computer
    int64_t lease = -1;          // seconds; -1: the longest the router allows
    // Kept open: the record says so, and a keeper renews it and puts it back whenever one runs.
    bool keep = false;
    std::string keep_file; // the keep file that holds it (quaymap-cli keep); empty: the window

    // The mapping's own fields in this order; the keeping is set apart.
    AddRequest(std::string name = {}, uint16_t external_port = 0, uint16_t internal_port = 0,
               std::string protocol = {}, std::string internal_client = {}, int64_t lease = -1)
        : name(std::move(name)), external_port(external_port), internal_port(internal_port),
          protocol(std::move(protocol)), internal_client(std::move(internal_client)), lease(lease) {
    }
};

using RowSink = std::function<void(const Mapping&)>;

class Engine {
  public:
    virtual ~Engine() = default;
    // Finds the router; commands act on the router of the latest search.
    virtual SearchOutcome search(const SearchOptions& options) = 0;
    // Commands act on routers[index] of the latest search from now on; its outcome as a search
    // would give it (kind none when there is no such router).
    virtual SearchOutcome choose(std::size_t index) {
        (void)index;
        return {};
    }
    // Reads the router's mappings; each row goes to `row` as soon as it is read.
    virtual CommandResult list(const RowSink& row) = 0;
    virtual CommandResult add(const AddRequest& request) = 0;
    // Deletes the mapping of a row as the router listed it (or as add returned it).
    virtual CommandResult remove(const Mapping& row) = 0;
    virtual CommandResult public_address() = 0;
    // Asks again for a mapping that has a lease, before the lease ends.
    virtual CommandResult renew(const Mapping& row) = 0;

    // What the record holds of the router commands act on: the mappings QuayMap made there (a
    // confirmed add writes an entry, a confirmed delete removes it). Empty without a record.
    virtual std::vector<RecordEntry> recorded() { return {}; }

    // Whether the router still holds a mapping made here (done, `held` set or not), or why it
    // could not tell. On NAT-PMP, which cannot be asked for one mapping, a public address
    // request stands for all of them: its epoch tells a restart, through restarted().
    virtual CommandResult check(const Mapping& row) {
        (void)row;
        CommandResult result;
        result.held = true;
        return result;
    }
    // The socket on which the router's own announcements arrive (opened at the first call): one
    // to wait on beside the time. -1 when none can be heard.
    virtual int announcements() { return -1; }
    // True once for each restart of the router that its announcements or answers told since the
    // last call (and so for every mapping it lost), with how it showed in `why`.
    virtual bool restarted(std::string& why) {
        (void)why;
        return false;
    }
};

} // namespace quaymap
