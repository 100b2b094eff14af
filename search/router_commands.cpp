#include "RouterEngine.h"
#include "explain.h"

#include <arpa/inet.h>
#include <cctype>
#include <cstdlib>
#include <iterator>

namespace quaymap {

namespace {

// A NAT-PMP mapping asks for two hours unless told otherwise; 0 would delete it instead.
constexpr uint32_t kNatPmpLifetime = 7200;

std::string upper(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

bool is_dotted(const std::string& text) {
    in_addr address{};
    return inet_pton(AF_INET, text.c_str(), &address) == 1;
}

CommandResult invalid(const std::string& message) {
    CommandResult result;
    result.verdict = Verdict::invalid;
    result.message = message;
    return result;
}

int natpmp_protocol(const std::string& protocol) {
    return protocol == "UDP" ? NATPMP_PROTOCOL_UDP : NATPMP_PROTOCOL_TCP;
}

// The gateway's own refusals, as NAT-PMP names them.
const char* natpmp_refusal(int result) {
    switch (result) {
    case NATPMP_ERR_UNSUPPORTEDVERSION:
        return "unsupported version";
    case NATPMP_ERR_NOTAUTHORIZED:
        return "not authorized";
    case NATPMP_ERR_NETWORKFAILURE:
        return "network failure";
    case NATPMP_ERR_OUTOFRESOURCES:
        return "out of resources";
    case NATPMP_ERR_UNSUPPORTEDOPCODE:
        return "unsupported request";
    case NATPMP_ERR_UNDEFINEDERROR:
        return "undefined error";
    default:
        return nullptr;
    }
}

} // namespace

CommandResult RouterEngine::upnp_failure(const std::string& what, const std::string& port_protocol,
                                         const MappingRecord* holder, const std::string& client) {
    CommandResult result;
    result.upnp_error_code = upnp_.upnp_error_code;
    result.upnp_error = upnp_.upnp_error_description;
    switch (upnp_.failure) {
    case UpnpNat::Failure::refused:
        result.verdict = Verdict::refused;
        result.message = refusal_text(what, upnp_.upnp_error_code, upnp_.upnp_error_description,
                                      port_protocol, holder, client);
        break;
    case UpnpNat::Failure::bad_answer:
        result.verdict = Verdict::refused;
        result.message = "The router gave an answer that cannot be read, so QuayMap cannot tell "
                         "whether it did " +
                         what + ". Refresh shows what it holds.";
        break;
    default:
        result.verdict = Verdict::unreachable;
        result.message = unreachable_text(what, router_address());
        break;
    }
    return result;
}

CommandResult RouterEngine::natpmp_failure(const std::string& what, int code) {
    CommandResult result;
    if (const char* refusal = natpmp_refusal(code)) {
        result.verdict = Verdict::refused;
        result.message = "The base station refused to " + what + " (NAT-PMP: " + refusal + ").";
    } else {
        result.verdict = Verdict::unreachable;
        result.message = unreachable_text(what, router_address());
    }
    return result;
}

CommandResult RouterEngine::list(const RowSink& row) {
    CommandResult result;
    if (kind() != RouterKind::igd1 && kind() != RouterKind::igd2)
        return result; // NAT-PMP keeps no list of mappings
    // Two listings at once would share the client's list; a second one waits for the first.
    std::lock_guard<std::mutex> one_listing(list_mutex_);
    UpnpNat::MappingCursor cursor;
    {
        std::lock_guard<std::mutex> lock(upnp_mutex_);
        upnp_.mappings.clear();
        upnp_.mapping_lines.clear();
        upnp_.mappings_cut = false;
    }
    std::vector<MappingRecord> fresh;
    for (;;) {
        fresh.clear();
        bool done = false;
        {
            std::lock_guard<std::mutex> lock(upnp_mutex_);
            const int count = upnp_.read_mappings(cursor);
            // Each step's rows are handed on, not kept: the client's lists stay one step long
            // instead of growing with the table.
            fresh.assign(std::make_move_iterator(upnp_.mappings.end() - count),
                         std::make_move_iterator(upnp_.mappings.end()));
            upnp_.mappings.clear();
            upnp_.mapping_lines.clear();
            done = cursor.done;
            if (done) {
                // A router lost half-way leaves the rows read so far, and says so.
                if (upnp_.failure == UpnpNat::Failure::unreachable)
                    result = upnp_failure("read all the mappings");
                result.rows_cut = upnp_.mappings_cut;
                result.unread = upnp_.mappings_unread;
            }
        }
        if (row)
            for (const MappingRecord& record : fresh)
                row(record);
        if (done)
            return result;
    }
}

CommandResult RouterEngine::add(const AddRequest& request) {
    const std::string protocol = upper(request.protocol);
    if (protocol != "TCP" && protocol != "UDP")
        return invalid("The protocol must be TCP or UDP.");
    if (request.external_port == 0)
        return invalid("The port must be a number from 1 to 65535.");
    switch (kind()) {
    case RouterKind::igd1:
    case RouterKind::igd2: {
        const std::string client =
            request.internal_client.empty() ? lan_address() : request.internal_client;
        if (!is_dotted(client))
            return invalid("The address must be an IPv4 address such as 192.168.1.20.");
        AddRequest upnp_request = request;
        upnp_request.protocol = protocol;
        return add_upnp(upnp_request, client);
    }
    case RouterKind::natpmp: {
        // NAT-PMP maps a port only to the computer that asks for it.
        const std::string& client = request.internal_client;
        if (!client.empty() && client != "Localhost" && client != lan_address())
            return invalid("A NAT-PMP router forwards ports only to the computer that asks (" +
                           lan_address() + "), not to " + client + ".");
        AddRequest natpmp_request = request;
        natpmp_request.protocol = protocol;
        return add_natpmp(natpmp_request);
    }
    case RouterKind::none:
        break;
    }
    return invalid("No router has been found.");
}

CommandResult RouterEngine::add_upnp(const AddRequest& request, const std::string& client) {
    const uint16_t internal = request.internal_port ? request.internal_port : request.external_port;
    const std::string port_protocol =
        std::to_string(request.external_port) + "/" + request.protocol;
    std::lock_guard<std::mutex> lock(upnp_mutex_);
    if (upnp_.add_port_mapping(request.name, client, request.external_port, internal,
                               request.protocol, request.lease)) {
        CommandResult result;
        result.row = {request.name, request.protocol,         std::to_string(request.external_port),
                      client,       std::to_string(internal), std::to_string(upnp_.last_lease)};
        // Routers shorten leases without saying so (a permanent one often becomes a week): the
        // row shows the lease the router now keeps.
        MappingRecord kept;
        if (!stopping() &&
            upnp_.get_specific_port_mapping(request.external_port, request.protocol, kept) &&
            !kept.lease_duration.empty())
            result.row.lease_duration = kept.lease_duration;
        return result;
    }
    if (upnp_.failure != UpnpNat::Failure::refused || upnp_.upnp_error_code != 718)
        return upnp_failure("add the mapping", port_protocol, nullptr, client);
    if (stopping()) {
        // Who holds the port is not asked once a stop is pending: a plain refusal.
        CommandResult result = upnp_failure("add the mapping", port_protocol, nullptr, client);
        result.message = refusal_text("add the mapping", 0, "", port_protocol, nullptr, client);
        return result;
    }
    // A conflict: say who holds the port, or that the router keeps other computers' ports to
    // themselves when nobody does.
    const int code = upnp_.upnp_error_code;
    const std::string description = upnp_.upnp_error_description;
    MappingRecord holder;
    const bool held =
        upnp_.get_specific_port_mapping(request.external_port, request.protocol, holder);
    CommandResult result;
    result.verdict = Verdict::refused;
    result.upnp_error_code = code;
    result.upnp_error = description;
    result.message = refusal_text("add the mapping", code, description, port_protocol,
                                  held ? &holder : nullptr, client);
    return result;
}

CommandResult RouterEngine::add_natpmp(const AddRequest& request) {
    const uint16_t internal = request.internal_port ? request.internal_port : request.external_port;
    const uint32_t lifetime =
        request.lease > 0 ? static_cast<uint32_t>(request.lease) : kNatPmpLifetime;
    NatPmpMapping granted;
    int code = 0;
    {
        std::lock_guard<std::mutex> lock(natpmp_mutex_);
        code = natpmp_.map(natpmp_protocol(request.protocol), internal, request.external_port,
                           lifetime, granted);
    }
    if (code != 0)
        return natpmp_failure("add the mapping", code);
    CommandResult result;
    result.row = {request.name,
                  request.protocol,
                  std::to_string(granted.public_port),
                  lan_address(),
                  std::to_string(granted.private_port),
                  std::to_string(granted.lifetime)};
    return result;
}

CommandResult RouterEngine::remove(const MappingRecord& row) {
    uint16_t port = 0;
    if (!port_of(row.external_port, port))
        return invalid("The router listed an invalid port (\"" + row.external_port +
                       "\"), so this mapping cannot be deleted by its port.");
    const std::string protocol = upper(row.protocol);
    if (kind() == RouterKind::natpmp) {
        uint16_t private_port = 0;
        if (!port_of(row.internal_port, private_port))
            return invalid("This mapping names no valid inside port (\"" + row.internal_port +
                           "\"), so it cannot be deleted.");
        std::lock_guard<std::mutex> lock(natpmp_mutex_);
        const int code = natpmp_.unmap(natpmp_protocol(protocol), private_port);
        return code == 0 ? CommandResult() : natpmp_failure("delete the mapping", code);
    }
    if (kind() == RouterKind::none)
        return invalid("No router has been found.");
    std::lock_guard<std::mutex> lock(upnp_mutex_);
    if (upnp_.del_port_mapping(port, protocol))
        return CommandResult();
    return upnp_failure("delete the mapping", row.external_port + "/" + protocol);
}

CommandResult RouterEngine::public_address() {
    CommandResult result;
    switch (kind()) {
    case RouterKind::igd1:
    case RouterKind::igd2: {
        std::lock_guard<std::mutex> lock(upnp_mutex_);
        if (!upnp_.get_external_ip(result.address))
            return upnp_failure("read the public address");
        return result;
    }
    case RouterKind::natpmp: {
        std::lock_guard<std::mutex> lock(natpmp_mutex_);
        const int code = natpmp_.public_address(result.address);
        return code == 0 ? result : natpmp_failure("read the public address", code);
    }
    case RouterKind::none:
        break;
    }
    return invalid("No router has been found.");
}

CommandResult RouterEngine::renew(const MappingRecord& row) {
    uint16_t external = 0, internal = 0;
    if (!port_of(row.external_port, external) || !port_of(row.internal_port, internal))
        return invalid("The mapping names no valid port, so it cannot be renewed.");
    AddRequest request;
    request.name = row.description;
    request.external_port = external;
    request.internal_port = internal;
    request.protocol = row.protocol;
    request.internal_client = kind() == RouterKind::natpmp ? std::string() : row.internal_client;
    const long long lease = std::atoll(row.lease_duration.c_str());
    request.lease = lease > 0 ? lease : -1;
    return add(request);
}

} // namespace quaymap
