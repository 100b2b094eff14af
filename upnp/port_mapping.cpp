#include "UpnpNat.h"
#include "diagnostic_log.h"
#include "wire_text.h"

#include <string>

using upnp_wire::xml_escaped;

namespace {

constexpr int kAddReads = 30;
constexpr int kDeleteReads = 10;

} // namespace

bool UpnpNat::add_port_mapping(const std::string& description, const std::string& internal_client,
                               uint16_t external_port, uint16_t internal_port,
                               const std::string& protocol) {
    upnp_error_code = 0;
    upnp_error_description.clear();
    // Texts go out escaped, so that no description can add elements to the request.
    const std::string arguments =
        "<NewRemoteHost></NewRemoteHost>\r\n<NewExternalPort>" + std::to_string(external_port) +
        "</NewExternalPort>\r\n<NewProtocol>" + xml_escaped(protocol) +
        "</NewProtocol>\r\n<NewInternalPort>" + std::to_string(internal_port) +
        "</NewInternalPort>\r\n<NewInternalClient>" + xml_escaped(internal_client) +
        "</NewInternalClient>\r\n<NewEnabled>1</NewEnabled>\r\n<NewPortMappingDescription>" +
        xml_escaped(description) +
        "</NewPortMappingDescription>\r\n<NewLeaseDuration>0</NewLeaseDuration>\r\n";
    std::string answer;
    if (!soap_call("AddPortMapping", arguments, kAddReads, answer))
        return false;
    upnp_detail::replace_file(log_folder, "quaymap.log", answer);
    close_tcp();
    if (upnp_wire::http_status_is_200(answer)) {
        status = STATUS_CHANGED;
        return true;
    }
    note_upnp_error(answer);
    return fail("Fail to add port mapping (" + description + "/" + protocol + ")\n");
}

bool UpnpNat::del_port_mapping(uint16_t external_port, const std::string& protocol) {
    upnp_error_code = 0;
    upnp_error_description.clear();
    const std::string arguments =
        "<NewRemoteHost></NewRemoteHost>\r\n<NewExternalPort>" + std::to_string(external_port) +
        "</NewExternalPort>\r\n<NewProtocol>" + xml_escaped(protocol) + "</NewProtocol>\r\n";
    std::string answer;
    if (!soap_call("DeletePortMapping", arguments, kDeleteReads, answer))
        return false;
    close_tcp();
    if (upnp_wire::http_status_is_200(answer)) {
        status = STATUS_CHANGED;
        return true;
    }
    note_upnp_error(answer);
    return fail("Fail to del port mapping (" + protocol + "/" + std::to_string(external_port) +
                ")\n");
}
