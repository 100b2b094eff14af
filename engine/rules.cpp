#include "rules.h"

#include "explain.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <cstdlib>
#include <iterator>

namespace quaymap {

namespace {

// A request that the router refused is tried again after this long.
constexpr long kRetry = 60;
constexpr long kFirstPause = 5;
constexpr long kLongestPause = 300;

} // namespace

std::string protocol_name(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

std::string add_problem(const AddRequest& request) {
    if (request.name.find_first_not_of(" \t") == std::string::npos)
        return "Give the mapping a name.";
    if (request.external_port == 0)
        return "The port must be a number from 1 to 65535.";
    const std::string protocol = protocol_name(request.protocol);
    if (protocol != "TCP" && protocol != "UDP")
        return "The protocol must be TCP or UDP.";
    in_addr address{};
    if (!request.internal_client.empty() &&
        inet_pton(AF_INET, request.internal_client.c_str(), &address) != 1)
        return "The address must be an IPv4 address such as 192.168.1.20.";
    return std::string();
}

CommandResult invalid(const std::string& message) {
    CommandResult result;
    result.verdict = Verdict::invalid;
    result.message = message;
    return result;
}

AddRequest completed(AddRequest request, const std::string& this_computer) {
    request.protocol = protocol_name(request.protocol);
    if (request.internal_port == 0)
        request.internal_port = request.external_port;
    if (request.internal_client.empty())
        request.internal_client = this_computer;
    return request;
}

AddRequest renewal_request(const Mapping& row, const std::string& client) {
    AddRequest request;
    request.name = row.description;
    port_of(row.external_port, request.external_port);
    port_of(row.internal_port, request.internal_port);
    request.protocol = protocol_name(row.protocol);
    request.internal_client = client;
    const long long lease = std::atoll(row.lease_duration.c_str());
    request.lease = lease > 0 ? lease : -1;
    return request;
}

long renewal_delay_s(const Mapping& row, double random) {
    const long long lease = std::atoll(row.lease_duration.c_str());
    if (lease <= 0)
        return -1;
    const double share = 0.5 + std::clamp(random, 0.0, 1.0) / 8;
    return std::max(1L, static_cast<long>(static_cast<double>(lease) * share));
}

long renewal_retry_s(Verdict verdict) {
    return verdict == Verdict::invalid ? -1 : kRetry;
}

long router_pause_s(long pause) {
    return pause <= 0 ? kFirstPause : std::min(pause * 2, kLongestPause);
}

std::string record_mark(const std::vector<RecordEntry>& recorded, const Mapping& row) {
    uint16_t port = 0;
    port_of(row.external_port, port);
    for (const RecordEntry& e : recorded)
        if (e.external_port == port && e.transport == protocol_name(row.protocol) &&
            e.internal_client == row.internal_client)
            return e.kept ? "kept" : "made here";
    return std::string();
}

std::vector<std::string> record_marks(const std::vector<RecordEntry>& recorded,
                                      const std::vector<Mapping>& rows) {
    std::vector<std::string> marks;
    for (const Mapping& row : rows)
        marks.push_back(record_mark(recorded, row));
    return marks;
}

int exit_status(Verdict verdict) {
    switch (verdict) {
    case Verdict::done:
        return kExitDone;
    case Verdict::refused:
        return kExitRefused;
    case Verdict::unreachable:
        return kExitUnreachable;
    case Verdict::invalid:
        break;
    }
    return kExitUsage;
}

namespace {

// Every name of each kind of router, in one place.
struct KindNames {
    RouterKind kind;
    const char* key;
    const char* words;
    const char* log;
};
constexpr KindNames kKinds[] = {
    {RouterKind::igd1, "igd1", "UPnP IGD v1", "upnp igd1"},
    {RouterKind::igd2, "igd2", "UPnP IGD v2", "upnp igd2"},
    {RouterKind::natpmp, "natpmp", "NAT-PMP", "natpmp"},
    {RouterKind::none, "none", "none", "none"},
};

const KindNames& names(RouterKind kind) {
    for (const KindNames& entry : kKinds)
        if (entry.kind == kind)
            return entry;
    return kKinds[std::size(kKinds) - 1];
}

} // namespace

const char* kind_key(RouterKind kind) {
    return names(kind).key;
}

const char* kind_words(RouterKind kind) {
    return names(kind).words;
}

const char* kind_name(RouterKind kind) {
    return names(kind).log;
}

} // namespace quaymap
