#include "RouterEngine.h"
#include "explain.h"

#include <algorithm>
#include <cstdlib>

namespace quaymap {

namespace {

// Where a router names a mapping by this computer's port (NAT-PMP), a grant of another public
// port is still the same mapping.
bool same(const RecordEntry& a, const RecordEntry& b, bool inside) {
    return a.router == b.router && a.transport == b.transport &&
           (inside ? a.internal_port == b.internal_port : a.external_port == b.external_port);
}

RecordEntry entry_of(const Gateway& router, const Mapping& row) {
    RecordEntry entry;
    entry.router = router.identity();
    entry.protocol = kind_key(router.kind());
    port_of(row.external_port, entry.external_port);
    port_of(row.internal_port, entry.internal_port);
    entry.transport = protocol_name(row.protocol);
    entry.internal_client = row.internal_client;
    entry.name = row.description;
    entry.lease = std::max(0LL, std::atoll(row.lease_duration.c_str()));
    return entry;
}

} // namespace

void RouterEngine::note_made(const Gateway& router, const Mapping& row, const AddRequest* asked) {
    if (!record_.enabled())
        return;
    RecordEntry made = entry_of(router, row);
    if (asked) {
        made.kept = asked->keep;
        made.keeper = asked->keep_file;
    }
    const bool inside = router.abilities().named_inside;
    record_.change([&](std::vector<RecordEntry>& entries) {
        made.lease_end = made.lease > 0 ? record_.now() + made.lease : 0;
        for (auto it = entries.begin(); it != entries.end();) {
            if (!same(*it, made, inside)) {
                ++it;
                continue;
            }
            if (!asked)
                made.kept = it->kept, made.keeper = it->keeper;
            it = entries.erase(it);
        }
        entries.push_back(made);
    });
}

void RouterEngine::note_deleted(const Gateway& router, const Mapping& row) {
    if (!record_.enabled())
        return;
    const RecordEntry gone = entry_of(router, row);
    const bool inside = router.abilities().named_inside;
    record_.change([&](std::vector<RecordEntry>& entries) {
        entries.erase(std::remove_if(entries.begin(), entries.end(),
                                     [&](const RecordEntry& e) { return same(e, gone, inside); }),
                      entries.end());
    });
}

std::vector<RecordEntry> RouterEngine::recorded() {
    const std::shared_ptr<Gateway> router = gateway();
    std::vector<RecordEntry> held;
    if (!router)
        return held;
    const std::string identity = router->identity();
    for (const RecordEntry& entry : record_.entries())
        if (entry.router == identity)
            held.push_back(entry);
    return held;
}

} // namespace quaymap
