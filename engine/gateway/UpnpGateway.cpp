#include "UpnpGateway.h"

#include "explain.h"
#include "log.h"
#include "wire/ssdp_notify.h"

namespace quaymap {

namespace {

// The router's own 718: another mapping holds the port, or the router keeps other computers'
// ports to themselves; 714: it holds no such mapping.
constexpr int kConflictInMappingEntry = 718;
constexpr int kNoSuchEntry = 714;

Mapping mapping_of(MappingRecord record) {
    return {std::move(record.description),   std::move(record.protocol),
            std::move(record.external_port), std::move(record.internal_client),
            std::move(record.internal_port), std::move(record.lease_duration)};
}

} // namespace

UpnpGateway::UpnpGateway(UpnpNat& client, std::mutex& client_lock, Found found,
                         std::function<bool()> stopping)
    : client_(client), client_lock_(client_lock), found_(std::move(found)),
      stopping_(std::move(stopping)),
      announced_(found_.notify_group, found_.notify_port, found_.this_computer),
      boot_id_(found_.boot_id) {}

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
    std::vector<Mapping> fresh;
    for (;;) {
        fresh.clear();
        bool done = false;
        {
            const std::lock_guard<std::mutex> lock(client_lock_);
            const int count = client_.read_mappings(cursor);
            for (auto it = client_.mappings.end() - count; it != client_.mappings.end(); ++it)
                fresh.push_back(mapping_of(std::move(*it)));
            // Each step's rows are handed on, not kept: the client's lists stay one step long
            // instead of growing with the table.
            client_.mappings.clear();
            client_.mapping_lines.clear();
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

CommandResult UpnpGateway::check(const Mapping& row) {
    uint16_t port = 0;
    port_of(row.external_port, port);
    MappingRecord held;
    const std::lock_guard<std::mutex> lock(client_lock_);
    if (!client_.get_specific_port_mapping(port, row.protocol, held)) {
        if (client_.failure != UpnpNat::Failure::refused || client_.upnp_error_code != kNoSuchEntry)
            return failure("check the mapping", row.external_port + "/" + row.protocol);
        return CommandResult();
    }
    // Another computer's mapping on the port is not the one made here.
    CommandResult result;
    result.row = mapping_of(held);
    result.held =
        held.internal_client == row.internal_client && held.internal_port == row.internal_port;
    return result;
}

int UpnpGateway::announcements() {
    const std::lock_guard<std::mutex> lock(signs_);
    std::string why;
    const int fd = announced_.fd(why);
    if (!why.empty())
        quaymap_log("the router's announcements cannot be heard (%s)", why.c_str());
    return fd;
}

bool UpnpGateway::restarted(std::string& why) {
    if (announcements() < 0)
        return false;
    const std::lock_guard<std::mutex> lock(signs_);
    bool restart = false;
    for (const std::string& datagram : announced_.take(address_)) {
        upnp_wire::SsdpNotice notice;
        if (!upnp_wire::ssdp_notice_of(datagram, notice))
            continue;
        if (!notice.alive) {
            said_byebye_ = true;
            continue;
        }
        // A router that gives no BOOTID.UPNP.ORG shows a restart only by stopping first.
        if (!notice.boot_id.empty() && !boot_id_.empty() && notice.boot_id != boot_id_) {
            why = "its BOOTID.UPNP.ORG went from " + boot_id_ + " to " + notice.boot_id;
            restart = true;
        } else if (said_byebye_ && notice.boot_id.empty()) {
            why = "it announced ssdp:byebye, then ssdp:alive";
            restart = true;
        }
        if (!notice.boot_id.empty())
            boot_id_ = notice.boot_id;
        said_byebye_ = false;
    }
    return restart;
}

} // namespace quaymap
