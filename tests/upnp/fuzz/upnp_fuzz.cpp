// Feeds any bytes, received as the client receives them, to everything that reads a router's
// answers. No input may crash, hang or leave the client in a state it could not otherwise reach.
#include "UpnpNat.h"
#include "wire_text.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

// A failure leaves status 8 and a text ending in a line feed.
bool failed(const UpnpNat& nat) {
    return nat.status == 8 && !nat.last_error.empty() && nat.last_error.back() == '\n';
}

void walk_description(const std::string& text) {
    UpnpNat nat;
    nat.describe_url = "http://192.168.1.1:5000/rootDesc.xml";
    nat.description = text;
    if (nat.parse_description())
        check(nat.status == 4 && !nat.control_url.empty() &&
              (nat.service_type == SERVICE_WANIP || nat.service_type == SERVICE_WANIP2 ||
               nat.service_type == SERVICE_WANPPP) &&
              (nat.igd_version == 1 || nat.igd_version == 2));
    else
        check(failed(nat));
    check(nat.tcp_socket == -1);
}

void walk_entry(const std::string& text) {
    UpnpNat nat;
    nat.last_response = text;
    if (!nat.parse_mapping_info())
        return check(failed(nat) && nat.mappings.empty() && nat.mapping_lines.empty());
    check(nat.mappings.size() == 1 && nat.mapping_lines.size() == 1);
    // The same answer again is a repeated entry: it ends a list.
    check(!nat.parse_mapping_info() && nat.mappings.size() == 1 && nat.mapping_lines.size() == 2);
}

void read_texts(const std::string& text) {
    std::vector<MappingRecord> records;
    check(upnp_wire::port_listing_of(text, records) || records.empty());
    int code = 0;
    std::string reason;
    const bool fault = upnp_wire::upnp_error_of(text, code, reason);
    for (const char* action : {"AddPortMapping", "GetListOfPortMappings"}) {
        const UpnpNat::Failure verdict = upnp_wire::verdict_of(text, action);
        check((verdict == UpnpNat::Failure::unreachable) == text.empty());
        if (verdict == UpnpNat::Failure::none)
            check(upnp_wire::http_status_is_200(text) && !fault);
    }
    std::string url;
    if (upnp_wire::description_url_of(text, url))
        check(url.find('\r') == std::string::npos && url.find('\n') == std::string::npos);
    std::string host, path;
    uint16_t port = 0;
    if (UpnpNat::parse_url(text, host, port, path))
        check(!path.empty() && path[0] == '/');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    std::string text;
    upnp_wire::append_received(text, bytes, size);
    const auto zeros = static_cast<std::size_t>(std::count(bytes, bytes + size, '\0'));
    check(text.find('\0') == std::string::npos && text.size() == size + 2 * zeros);
    walk_description(text);
    walk_entry(text);
    read_texts(text);
    return 0;
}
