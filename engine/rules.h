// The rules the window and the command line share, kept once here: what makes an add right, when
// a mapping is asked for again, what a verdict means for the command line's exit status, and the
// names of the kinds of router.
#pragma once

#include "Engine.h"

#include <string>
#include <vector>

namespace quaymap {

// Why an add cannot be right, in the words the faces show; empty when it can. The faces ask as
// the user gives the request; the engine asks again before anything is sent, whoever sent it.
std::string add_problem(const AddRequest& request);
// A result that says the request cannot be right; nothing was sent.
CommandResult invalid(const std::string& message);

// "TCP" or "UDP" as routers write them, whatever case `text` came in.
std::string protocol_name(std::string text);
// The request as a gateway takes it: protocol in capitals, the inside port and the client set
// (this computer where it names none).
AddRequest completed(AddRequest request, const std::string& this_computer);
// The add that asks for a mapping again: its name, ports, protocol and lease, for `client`.
AddRequest renewal_request(const Mapping& row, const std::string& client);

// When to ask for a mapping again, in seconds after it was granted: at a point between a half
// and five eighths of its lease that `random` (from 0 to 1) picks, so that the mappings of many
// computers do not come due at once; -1 for a permanent one or one whose lease the router did
// not say. The window and the command line keep mappings by this one rule (Keeper).
long renewal_delay_s(const Mapping& row, double random);
// After an add or renewal that the router refused: when to try again, in seconds; -1 for never
// (a request that cannot be right stays so). A router that did not answer is tried again after
// a pause of its own.
long renewal_retry_s(Verdict verdict);
// The pause before asking again a router that did not answer, after `pause` seconds the last
// time (0: the first): from 5 s, doubling up to 5 min. It is never given up.
long router_pause_s(long pause);

// What the record says of a row the router listed: "kept" (kept open), "made here" (QuayMap made
// it), or empty. Where the router now sends the port elsewhere, the row is not the one made here.
std::string record_mark(const std::vector<RecordEntry>& recorded, const Mapping& row);
std::vector<std::string> record_marks(const std::vector<RecordEntry>& recorded,
                                      const std::vector<Mapping>& rows);

// The command line's exit statuses.
enum ExitStatus {
    kExitDone = 0,
    kExitRefused = 1,     // the router said no
    kExitUsage = 2,       // the command line (or the request) cannot be right
    kExitNoRouter = 3,    // no router was found
    kExitUnreachable = 4, // the router did not answer
    kExitIncomplete = 5,  // the router did not list every mapping
};
int exit_status(Verdict verdict);

// "igd1", "igd2", "natpmp", "none": the keys of the command line's JSON.
const char* kind_key(RouterKind kind);
// "UPnP IGD v1", "UPnP IGD v2", "NAT-PMP", "none": the kinds in words.
const char* kind_words(RouterKind kind);
// "upnp igd1", "upnp igd2", "natpmp", "none": the kinds in the search's log line.
const char* kind_name(RouterKind kind);

} // namespace quaymap
