// Feeds any bytes, received as the client receives them, to everything that reads a router's
// answers. No input may crash, hang or leave the client in a state it could not otherwise reach.
#include "UpnpNat.h"
#include "wire/answer_walk.h"
#include "http/answer_reader.h"
#include "http/url.h"
#include "wire/ssdp_notify.h"
#include "wire/wire_text.h"

#include <algorithm>
#include <cstdlib>

static void check(bool condition) {
    if (!condition)
        std::abort();
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const char* bytes = reinterpret_cast<const char*>(data);
    std::string text;
    upnp_wire::append_received(text, bytes, size);
    const auto zeros = static_cast<std::size_t>(std::count(bytes, bytes + size, '\0'));
    check(text.find('\0') == std::string::npos && text.size() == size + 2 * zeros);

    UpnpNat nat;
    // A failure leaves status 8 and a text ending in a line feed.
    const auto failed = [&nat] {
        return nat.status == 8 && !nat.last_error.empty() && nat.last_error.back() == '\n';
    };
    nat.describe_url = "http://192.168.1.1:5000/rootDesc.xml";
    nat.description = text;
    const std::string& type = nat.service_type;
    check(nat.parse_description()
              ? nat.status == 4 && !nat.control_url.empty() &&
                    (type == SERVICE_WANIP || type == SERVICE_WANIP2 || type == SERVICE_WANPPP) &&
                    (nat.igd_version == 1 || nat.igd_version == 2)
              : failed());
    check(nat.tcp_socket == -1);

    // One record, and the same answer again is a repeated entry: it ends a list.
    nat.last_response = text;
    if (nat.parse_mapping_info())
        check(nat.mappings.size() == 1 && !nat.parse_mapping_info() && nat.mappings.size() == 1 &&
              nat.mapping_lines.size() == 2);
    else
        check(failed() && nat.mappings.empty() && nat.mapping_lines.empty());

    std::vector<MappingRecord> records;
    check(upnp_wire::port_listing_of(text, records) || records.empty());
    upnp_wire::SsdpNotice notice;
    check(!upnp_wire::ssdp_notice_of(text, notice) || text.compare(0, 6, "NOTIFY") == 0);
    std::string url, host, path;
    for (const char* action : {"AddPortMapping", "GetListOfPortMappings"}) {
        const upnp_detail::AnswerWalk walk(text, action);
        const UpnpNat::Failure verdict = walk.verdict();
        int code = -1;
        std::string reason;
        const bool fault = walk.upnp_error(code, reason);
        check((verdict == UpnpNat::Failure::unreachable) == text.empty());
        check(verdict != UpnpNat::Failure::none || (upnp_wire::http_status_is_200(text) && !fault));
        check(fault || code == -1);
        // A broken framing is never the router's word, whatever the text holds.
        check(text.empty() || upnp_detail::AnswerWalk(text, action, true).verdict() ==
                                  UpnpNat::Failure::bad_answer);
    }
    if (upnp_wire::description_url_of(text, url))
        check(url.find_first_of("\r\n") == std::string::npos);
    uint16_t port = 0;
    check(!UpnpNat::parse_url(text, host, port, path) || path[0] == '/');
    check(!upnp_http::resolve("http://192.168.1.1:5000/a/b.xml", text).empty() || text.empty());

    // The framing, fed in pieces whose size the first byte sets: whole answers stay within the
    // cap, and a bad one always says why.
    upnp_http::AnswerReader reader(1024);
    const std::size_t piece = size > 0 ? 1 + data[0] % 16 : 1;
    for (std::size_t at = 0; at < size; at += piece)
        reader.feed(bytes + at, std::min(piece, size - at));
    reader.close();
    const bool whole = reader.state() == upnp_http::AnswerReader::State::complete;
    check(whole ? reader.body().size() <= 1024 && reader.status() >= 200 && reader.error().empty()
                : reader.state() == upnp_http::AnswerReader::State::bad && !reader.error().empty());
    return 0;
}
