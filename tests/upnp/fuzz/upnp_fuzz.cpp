// Feeds any bytes to everything that reads a router's answers: the device description walk,
// the mapping entry walk, the SSDP answer, the verdict, the fault detail and the URL split.
// No input may crash, hang or leave the client in a state it could not otherwise reach.
#include "UpnpNat.h"
#include "wire_text.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

void check(bool condition) {
    if (!condition)
        std::abort();
}

bool ends_in_line_feed(const std::string& text) {
    return !text.empty() && text.back() == '\n';
}

void walk_description(const std::string& bytes) {
    UpnpNat nat;
    nat.describe_url = "http://192.168.1.1:5000/rootDesc.xml";
    nat.description = bytes;
    if (nat.parse_description()) {
        check(nat.status == 4);
        check(nat.service_type == SERVICE_WANIP || nat.service_type == SERVICE_WANPPP);
        check(!nat.control_url.empty());
    } else {
        check(nat.status == 8);
        check(ends_in_line_feed(nat.last_error));
    }
    check(nat.tcp_socket == -1);
}

void walk_entry(const std::string& bytes) {
    UpnpNat nat;
    nat.last_response = bytes;
    if (nat.parse_mapping_info()) {
        check(nat.mappings.size() == 1 && nat.mapping_lines.size() == 1);
        // The same answer again is a repeated entry: it ends a list.
        check(!nat.parse_mapping_info());
        check(nat.mappings.size() == 1 && nat.mapping_lines.size() == 2);
    } else {
        check(nat.status == 8 && ends_in_line_feed(nat.last_error));
        check(nat.mappings.empty() && nat.mapping_lines.empty());
    }
}

void read_texts(const std::string& bytes) {
    std::string url;
    if (upnp_wire::description_url_of(bytes, url))
        check(url.find('\r') == std::string::npos && url.find('\n') == std::string::npos);
    upnp_wire::http_status_is_200(bytes);
    int code = 0;
    std::string text;
    upnp_wire::upnp_error_of(bytes, code, text);
    std::string host, path;
    uint16_t port = 0;
    if (UpnpNat::parse_url(bytes, host, port, path))
        check(!path.empty() && path[0] == '/');
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    walk_description(bytes);
    walk_entry(bytes);
    read_texts(bytes);
    return 0;
}
