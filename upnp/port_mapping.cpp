#include "UpnpNat.h"
#include "wire/answer_walk.h"
#include "diagnostic_log.h"
#include "wire/wire_text.h"

#include <cctype>
#include <cstdint>
#include <string>

using upnp_wire::xml_escaped;

namespace {

constexpr int kAddReads = 30;
constexpr int kDeleteReads = 10;
constexpr int kLookupReads = 10;
// The lease a WANIPConnection:2 service is asked for when the caller names none: that service
// may refuse a permanent one, and a week outlives any session of the program.
constexpr uint32_t kDefaultLease2 = 604800;
constexpr int kOnlyPermanentLeasesSupported = 725;

// Routers compare the protocol as written; some take only capitals.
std::string upper_case(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// Texts go out escaped, so that no description can add elements to the request.
std::string port_arguments(uint16_t external_port, const std::string& protocol) {
    return "<NewRemoteHost></NewRemoteHost>\r\n<NewExternalPort>" + std::to_string(external_port) +
           "</NewExternalPort>\r\n<NewProtocol>" + xml_escaped(upper_case(protocol)) +
           "</NewProtocol>\r\n";
}

} // namespace

bool UpnpNat::add_port_mapping(const std::string& description, const std::string& internal_client,
                               uint16_t external_port, uint16_t internal_port,
                               const std::string& protocol, int64_t lease) {
    uint32_t asked = 0;
    if (lease < 0)
        asked = service_type == SERVICE_WANIP2 ? kDefaultLease2 : 0;
    else
        asked = lease > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(lease);
    for (;;) {
        const std::string arguments =
            port_arguments(external_port, protocol) + "<NewInternalPort>" +
            std::to_string(internal_port) + "</NewInternalPort>\r\n<NewInternalClient>" +
            xml_escaped(internal_client) +
            "</NewInternalClient>\r\n<NewEnabled>1</NewEnabled>\r\n<NewPortMappingDescription>" +
            xml_escaped(description) + "</NewPortMappingDescription>\r\n<NewLeaseDuration>" +
            std::to_string(asked) + "</NewLeaseDuration>\r\n";
        std::string answer;
        if (!soap_call("AddPortMapping", arguments, kAddReads, answer))
            return false;
        upnp_detail::replace_file(log_folder, "quaymap.log", answer);
        close_tcp();
        const Failure verdict = read_answer(answer, "AddPortMapping").verdict();
        // Where a router puts a new mapping in its table is its own affair.
        if (verdict != Failure::refused)
            note_change();
        if (verdict == Failure::none) {
            last_lease = asked;
            return succeed(STATUS_CHANGED);
        }
        if (verdict == Failure::refused && upnp_error_code == kOnlyPermanentLeasesSupported &&
            asked != 0) {
            asked = 0;
            continue;
        }
        return fail("Fail to add port mapping (" + description + "/" + protocol + ")\n", verdict);
    }
}

bool UpnpNat::del_port_mapping(uint16_t external_port, const std::string& protocol) {
    std::string answer;
    if (!soap_call("DeletePortMapping", port_arguments(external_port, protocol), kDeleteReads,
                   answer))
        return false;
    close_tcp();
    const Failure verdict = read_answer(answer, "DeletePortMapping").verdict();
    if (verdict != Failure::refused)
        note_change(verdict == Failure::none ? external_port : 0, protocol);
    if (verdict == Failure::none)
        return succeed(STATUS_CHANGED);
    return fail("Fail to del port mapping (" + protocol + "/" + std::to_string(external_port) +
                    ")\n",
                verdict);
}

bool UpnpNat::get_specific_port_mapping(uint16_t external_port, const std::string& protocol,
                                        MappingRecord& record) {
    static const char action[] = "GetSpecificPortMappingEntry";
    std::string answer;
    if (!soap_call(action, port_arguments(external_port, protocol), kLookupReads, answer))
        return false;
    close_tcp();
    upnp_detail::AnswerWalk walk = read_answer(answer, action);
    const Failure verdict = walk.verdict();
    if (verdict == Failure::unreachable || verdict == Failure::refused || !answer_problem_.empty())
        return fail("Fail to get specific port mapping (" + protocol + "/" +
                        std::to_string(external_port) + ")\n",
                    verdict);
    MappingRecord found;
    found.internal_port = walk.argument("NewInternalPort");
    found.internal_client = walk.argument("NewInternalClient");
    found.description = walk.argument("NewPortMappingDescription");
    found.lease_duration = walk.optional_argument("NewLeaseDuration");
    if (!walk.ok())
        return fail(walk.error(), Failure::bad_answer);
    found.protocol = upper_case(protocol);
    found.external_port = std::to_string(external_port);
    record = found;
    return succeed(STATUS_READ);
}
