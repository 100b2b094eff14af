#include "UpnpGateway.h"

#include "explain.h"

namespace quaymap {

namespace {

// The router's own 718: another mapping holds the port, or the router keeps other computers'
// ports to themselves.
constexpr int kConflictInMappingEntry = 718;

Mapping mapping_of(const MappingRecord& record) {
    return {record.description,     record.protocol,      record.external_port,
            record.internal_client, record.internal_port, record.lease_duration};
}

} // namespace

UpnpGateway::UpnpGateway(UpnpNat& client, std::mutex& client_lock, RouterKind kind,
                         std::string address, std::string udn, std::function<bool()> stopping)
    : client_(client), client_lock_(client_lock), kind_(kind), address_(std::move(address)),
      udn_(std::move(udn)), stopping_(std::move(stopping)) {}

CommandResult UpnpGateway::failure(const std::string& what, const std::string& port_protocol,
                                   const MappingRecord* holder, const std::string& client) {
    CommandResult result;
    result.upnp_error_code = client_.upnp_error_code;
    result.upnp_error = client_.upnp_error_description;
    switch (client_.failure) {
    case UpnpNat::Failure::refused: {
        result.verdict = Verdict::refused;
        const Mapping held = holder ? mapping_of(*holder) : Mapping();
        result.message = refusal_text(what, client_.upnp_error_code, client_.upnp_error_description,
                                      port_protocol, holder ? &held : nullptr, client);
        break;
    }
    case UpnpNat::Failure::bad_answer:
        result.verdict = Verdict::refused;
        result.message = "The router gave an answer that cannot be read, so QuayMap cannot tell "
                         "whether it did " +
                         what + ". Refresh shows what it holds.";
        break;
    default:
        result.verdict = Verdict::unreachable;
        result.message = unreachable_text(what, address_);
        break;
    }
    return result;
}

CommandResult UpnpGateway::list(const RowSink& row) {
    CommandResult result;
    const std::lock_guard<std::mutex> one_listing(listing_);
    UpnpNat::MappingCursor cursor;
    {
        const std::lock_guard<std::mutex> lock(client_lock_);
        client_.mappings.clear();
        client_.mapping_lines.clear();
        client_.mappings_cut = false;
    }
    for (;;) {
        std::vector<Mapping> fresh;
        bool done = false;
        {
            const std::lock_guard<std::mutex> lock(client_lock_);
            const int count = client_.read_mappings(cursor);
            for (auto it = client_.mappings.end() - count; it != client_.mappings.end(); ++it)
                fresh.push_back(mapping_of(*it));
            done = cursor.done;
            if (done) {
                // A router lost half-way leaves the rows read so far, and says so.
                if (client_.failure == UpnpNat::Failure::unreachable)
                    result = failure("read all the mappings");
                result.rows_cut = client_.mappings_cut;
                for (const UnreadEntry& entry : client_.mappings_unread)
                    result.unread.push_back(
                        {entry.index, entry.protocol, entry.first_port, entry.reason});
            }
        }
        if (row)
            for (const Mapping& mapping : fresh)
                row(mapping);
        if (done)
            return result;
    }
}

CommandResult UpnpGateway::add(const AddRequest& request) {
    const std::string port_protocol =
        std::to_string(request.external_port) + "/" + request.protocol;
    const std::lock_guard<std::mutex> lock(client_lock_);
    if (client_.add_port_mapping(request.name, request.internal_client, request.external_port,
                                 request.internal_port, request.protocol, request.lease)) {
        CommandResult result;
        result.row = {request.name,
                      request.protocol,
                      std::to_string(request.external_port),
                      request.internal_client,
                      std::to_string(request.internal_port),
                      std::to_string(client_.last_lease)};
        // Routers shorten leases without saying so (a permanent one often becomes a week): the
        // row shows the lease the router now keeps.
        MappingRecord kept;
        if (!stopping_() &&
            client_.get_specific_port_mapping(request.external_port, request.protocol, kept) &&
            !kept.lease_duration.empty())
            result.row.lease_duration = kept.lease_duration;
        return result;
    }
    if (client_.failure != UpnpNat::Failure::refused ||
        client_.upnp_error_code != kConflictInMappingEntry)
        return failure("add the mapping", port_protocol, nullptr, request.internal_client);
    return conflict(request, port_protocol);
}

// Says who holds the port, or that the router keeps other computers' ports to themselves when
// nobody does; once a stop is pending nobody is asked, and the refusal is a plain one.
CommandResult UpnpGateway::conflict(const AddRequest& request, const std::string& port_protocol) {
    CommandResult result =
        failure("add the mapping", port_protocol, nullptr, request.internal_client);
    if (stopping_()) {
        result.message =
            refusal_text("add the mapping", 0, "", port_protocol, nullptr, request.internal_client);
        return result;
    }
    MappingRecord holder;
    if (client_.get_specific_port_mapping(request.external_port, request.protocol, holder)) {
        const Mapping held = mapping_of(holder);
        result.message = refusal_text("add the mapping", result.upnp_error_code, result.upnp_error,
                                      port_protocol, &held, request.internal_client);
    }
    return result;
}

CommandResult UpnpGateway::remove(const Mapping& row) {
    uint16_t port = 0;
    port_of(row.external_port, port);
    const std::lock_guard<std::mutex> lock(client_lock_);
    if (client_.del_port_mapping(port, row.protocol))
        return CommandResult();
    return failure("delete the mapping", row.external_port + "/" + row.protocol);
}

CommandResult UpnpGateway::renew(const Mapping& row) {
    return add(renewal_request(row, row.internal_client));
}

CommandResult UpnpGateway::public_address() {
    CommandResult result;
    const std::lock_guard<std::mutex> lock(client_lock_);
    if (!client_.get_external_ip(result.address))
        return failure("read the public address");
    return result;
}

} // namespace quaymap
