#include "UpnpNat.h"
#include "wire/answer_walk.h"
#include "http/url.h"
#include "wire/wire_text.h"

#include <algorithm>
#include <cctype>
#include <string>

using upnp_wire::xml_escaped;

namespace {

constexpr int kAddReads = 30;
constexpr int kOtherReads = 10;
// The lease the firewall control service allows a pinhole at most.
constexpr uint32_t kLongestLease = 86400;

const char* protocol_name(int protocol) {
    return protocol == 6 ? "TCP" : protocol == 17 ? "UDP" : "protocol";
}

std::string pinhole_text(const std::string& client, uint16_t port, int protocol) {
    return "[" + client + "]:" + std::to_string(port) + "/" + protocol_name(protocol);
}

bool yes(std::string text) {
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text == "1" || text == "true" || text == "yes";
}

// A whole number 0 to 65535, as the service's ui2 identifiers are; false for anything else.
bool unique_id_of(const std::string& text, uint16_t& id) {
    if (text.empty() || text.size() > 5 ||
        !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; }) ||
        std::stoul(text) > 65535)
        return false;
    id = static_cast<uint16_t>(std::stoul(text));
    return true;
}

} // namespace

bool UpnpNat::firewall_exchange(const std::string& action, const std::string& arguments,
                                std::string& answer) {
    if (firewall_control_url.empty())
        return fail("The router offers no IPv6 firewall control.\n", Failure::refused);
    upnp_http::Url to;
    if (!upnp_http::split_url(firewall_control_url, to))
        return fail("Fail to parseURl: " + firewall_control_url + "\n", Failure::unreachable);
    const bool sent = call(to, SERVICE_WANIP6FC, action, arguments,
                           action == "AddPinhole" ? kAddReads : kOtherReads, answer,
                           upnp_http::Clock::time_point::max(), firewall_source);
    close_tcp();
    return sent;
}

bool UpnpNat::get_firewall_status(bool& firewall_enabled, bool& pinholes_allowed) {
    static const char action[] = "GetFirewallStatus";
    std::string answer;
    if (!firewall_exchange(action, "", answer))
        return false;
    upnp_detail::AnswerWalk walk = read_answer(answer, action);
    const Failure verdict = walk.verdict();
    if (verdict != Failure::none)
        return fail("Fail to get firewall status\n", verdict);
    const std::string enabled = walk.argument("FirewallEnabled");
    const std::string allowed = walk.argument("InboundPinholeAllowed");
    if (!walk.ok())
        return fail(walk.error(), Failure::bad_answer);
    firewall_enabled = yes(enabled);
    pinholes_allowed = yes(allowed);
    return succeed(STATUS_READ);
}

bool UpnpNat::add_pinhole(const std::string& internal_client, uint16_t internal_port, int protocol,
                          uint32_t lease, uint16_t& unique_id, const std::string& remote_host,
                          uint16_t remote_port) {
    static const char action[] = "AddPinhole";
    const uint32_t asked = std::clamp<uint32_t>(lease, 1, kLongestLease);
    const std::string arguments =
        "<RemoteHost>" + xml_escaped(remote_host) + "</RemoteHost>\r\n<RemotePort>" +
        std::to_string(remote_port) + "</RemotePort>\r\n<InternalClient>" +
        xml_escaped(internal_client) + "</InternalClient>\r\n<InternalPort>" +
        std::to_string(internal_port) + "</InternalPort>\r\n<Protocol>" + std::to_string(protocol) +
        "</Protocol>\r\n<LeaseTime>" + std::to_string(asked) + "</LeaseTime>\r\n";
    const std::string failed =
        "Fail to add pinhole (" + pinhole_text(internal_client, internal_port, protocol) + ")\n";
    std::string answer;
    if (!firewall_exchange(action, arguments, answer))
        return false;
    upnp_detail::AnswerWalk walk = read_answer(answer, action);
    const Failure verdict = walk.verdict();
    if (verdict != Failure::none)
        return fail(failed, verdict);
    const std::string id = walk.argument("UniqueID");
    if (!walk.ok())
        return fail(walk.error(), Failure::bad_answer);
    // The router opened something, but what cannot be named: it could never be renewed or closed.
    if (!unique_id_of(id, unique_id))
        return fail(failed, Failure::bad_answer);
    last_lease = asked;
    return succeed(STATUS_CHANGED);
}

bool UpnpNat::update_pinhole(uint16_t unique_id, uint32_t lease) {
    static const char action[] = "UpdatePinhole";
    const uint32_t asked = std::clamp<uint32_t>(lease, 1, kLongestLease);
    std::string answer;
    if (!firewall_exchange(action,
                           "<UniqueID>" + std::to_string(unique_id) +
                               "</UniqueID>\r\n<NewLeaseTime>" + std::to_string(asked) +
                               "</NewLeaseTime>\r\n",
                           answer))
        return false;
    const Failure verdict = read_answer(answer, action).verdict();
    if (verdict != Failure::none)
        return fail("Fail to update pinhole " + std::to_string(unique_id) + "\n", verdict);
    last_lease = asked;
    return succeed(STATUS_CHANGED);
}

bool UpnpNat::delete_pinhole(uint16_t unique_id) {
    static const char action[] = "DeletePinhole";
    std::string answer;
    if (!firewall_exchange(action, "<UniqueID>" + std::to_string(unique_id) + "</UniqueID>\r\n",
                           answer))
        return false;
    const Failure verdict = read_answer(answer, action).verdict();
    if (verdict != Failure::none)
        return fail("Fail to delete pinhole " + std::to_string(unique_id) + "\n", verdict);
    return succeed(STATUS_CHANGED);
}
