#include "NatPmpGateway.h"

#include "explain.h"
#include "log.h"

namespace quaymap {

namespace {

// A mapping asks for two hours unless told otherwise; 0 would delete it instead.
constexpr uint32_t kLifetime = 7200;

int protocol_of(const std::string& protocol) {
    return protocol == "UDP" ? NATPMP_PROTOCOL_UDP : NATPMP_PROTOCOL_TCP;
}

// The gateway's own refusals, as NAT-PMP names them.
const char* refusal(int result) {
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

NatPmpGateway::NatPmpGateway(NatPmpClient& client, std::mutex& client_lock, std::string address,
                             std::string this_computer)
    : client_(client), client_lock_(client_lock), address_(std::move(address)),
      this_computer_(std::move(this_computer)),
      announced_("224.0.0.1", client.announce_port, this_computer_) {}

CommandResult NatPmpGateway::failure(const std::string& what, int code) const {
    CommandResult result;
    if (const char* words = refusal(code)) {
        result.verdict = Verdict::refused;
        result.message = "The base station refused to " + what + " (NAT-PMP: " + words + ").";
    } else {
        result.verdict = Verdict::unreachable;
        result.message = unreachable_text(what, address_);
    }
    return result;
}

CommandResult NatPmpGateway::list(const RowSink&) {
    return CommandResult(); // NAT-PMP keeps no list of mappings
}

CommandResult NatPmpGateway::add(const AddRequest& request) {
    const uint32_t lifetime = request.lease > 0 ? static_cast<uint32_t>(request.lease) : kLifetime;
    NatPmpMapping granted;
    int code = 0;
    {
        const std::lock_guard<std::mutex> lock(client_lock_);
        code = client_.map(protocol_of(request.protocol), request.internal_port,
                           request.external_port, lifetime, granted);
    }
    if (code != 0)
        return failure("add the mapping", code);
    CommandResult result;
    // The gateway may grant another public port than the one asked for.
    result.row = {request.name,
                  request.protocol,
                  std::to_string(granted.public_port),
                  this_computer_,
                  std::to_string(granted.private_port),
                  std::to_string(granted.lifetime)};
    return result;
}

CommandResult NatPmpGateway::remove(const Mapping& row) {
    // A NAT-PMP mapping is named by this computer's port.
    uint16_t private_port = 0;
    if (!port_of(row.internal_port, private_port))
        return invalid("This mapping names no valid inside port (\"" + row.internal_port +
                       "\"), so it cannot be deleted.");
    const std::lock_guard<std::mutex> lock(client_lock_);
    const int code = client_.unmap(protocol_of(row.protocol), private_port);
    return code == 0 ? CommandResult() : failure("delete the mapping", code);
}

CommandResult NatPmpGateway::renew(const Mapping& row) {
    return add(renewal_request(row, this_computer_));
}

CommandResult NatPmpGateway::check(const Mapping&) {
    CommandResult result = public_address();
    result.held = result.ok();
    return result;
}

int NatPmpGateway::open_announcements() {
    std::string why;
    const int fd = announced_.fd(why);
    if (!why.empty())
        quaymap_log("the base station's announcements cannot be heard (%s)", why.c_str());
    return fd;
}

int NatPmpGateway::announcements() {
    const std::lock_guard<std::mutex> lock(client_lock_);
    return open_announcements();
}

bool NatPmpGateway::restarted(std::string& why) {
    const std::lock_guard<std::mutex> lock(client_lock_);
    if (open_announcements() >= 0)
        for (const std::string& datagram : announced_.take(address_)) {
            uint32_t epoch = 0;
            if (announced_epoch(datagram, epoch))
                client_.take_epoch(epoch);
        }
    return client_.restarted(why);
}

CommandResult NatPmpGateway::public_address() {
    CommandResult result;
    const std::lock_guard<std::mutex> lock(client_lock_);
    const int code = client_.public_address(result.address);
    return code == 0 ? result : failure("read the public address", code);
}

} // namespace quaymap
