#include "explain.h"

#include <arpa/inet.h>
#include <cstdlib>

namespace quaymap {

const char* verdict_name(Verdict verdict) {
    switch (verdict) {
    case Verdict::done:
        return "done";
    case Verdict::refused:
        return "refused";
    case Verdict::unreachable:
        return "unreachable";
    case Verdict::invalid:
        break;
    }
    return "invalid";
}

bool port_of(const std::string& text, uint16_t& port) {
    if (text.empty() || text.size() > 5 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long value = std::strtol(text.c_str(), nullptr, 10);
    if (value < 1 || value > 65535)
        return false;
    port = static_cast<uint16_t>(value);
    return true;
}

bool is_public_address(const std::string& address) {
    in_addr parsed{};
    if (inet_pton(AF_INET, address.c_str(), &parsed) != 1)
        return false;
    const uint32_t a = ntohl(parsed.s_addr);
    const auto in = [a](uint32_t network, int bits) {
        return (a >> (32 - bits)) == (network >> (32 - bits));
    };
    return a != 0 && !in(0x0A000000, 8) && !in(0x64400000, 10) && !in(0x7F000000, 8) &&
           !in(0xA9FE0000, 16) && !in(0xAC100000, 12) && !in(0xC0A80000, 16);
}

std::string double_nat_warning(const std::string& address) {
    if (address.empty() || is_public_address(address))
        return {};
    return "The router's public address " + address +
           " is not a public internet address: your internet provider puts another router in "
           "front of this one (carrier-grade or double NAT), so forwarded ports will not be "
           "reachable from the internet.";
}

std::string lease_text(const std::string& seconds) {
    if (seconds.empty() || seconds.size() > 10 ||
        seconds.find_first_not_of("0123456789") != std::string::npos)
        return {};
    const long long s = std::atoll(seconds.c_str());
    if (s == 0)
        return "permanent";
    const long long days = s / 86400, hours = s % 86400 / 3600, minutes = s % 3600 / 60;
    if (days > 0)
        return std::to_string(days) + " d " + std::to_string(hours) + " h";
    if (hours > 0)
        return std::to_string(hours) + " h " + std::to_string(minutes) + " min";
    if (minutes > 0)
        return std::to_string(minutes) + " min";
    return std::to_string(s) + " s";
}

std::string ports_text(const Mapping& row) {
    if (row.internal_port.empty() || row.internal_port == row.external_port)
        return row.external_port;
    return row.external_port + " \u2192 " + row.internal_port;
}

std::string refusal_text(const std::string& what, int code, const std::string& description,
                         const std::string& port_protocol, const Mapping* holder,
                         const std::string& requested_client) {
    if (code == 718 && holder && !holder->internal_client.empty()) {
        std::string text = "Port " + port_protocol + " already goes to " + holder->internal_client;
        if (!holder->description.empty())
            text += " (" + holder->description + ")";
        return text + ".";
    }
    if (code == 718)
        return "The router refuses mappings for other computers than the one asking (its secure "
               "mode). Add the mapping from " +
               (requested_client.empty() ? std::string("that computer") : requested_client) +
               " itself, or switch secure mode off in the router's UPnP settings.";
    if (code == 606)
        return "The router does not let this computer change port mappings (606 Action not "
               "authorized). Routers that ask for this permission keep it with each device, "
               "usually in the device list or under UPnP or security settings (\"allow this "
               "device to change port forwarding\").";
    std::string text = "The router refused to " + what;
    if (code != 0)
        text += ": " + std::to_string(code) + (description.empty() ? "" : " " + description);
    return text + ".";
}

std::string unreachable_text(const std::string& what, const std::string& router) {
    return "The router" + (router.empty() ? std::string() : " at " + router) +
           " did not answer, so QuayMap could not " + what +
           ". Check that it is on and that this computer is still on its network.";
}

namespace {

// Where a run of unread entries stands: "entry 2", "entries 5 to 7", "UDP ports 1001 to 65535".
std::string unread_place(const Unread& first, const Unread& last) {
    if (first.index < 0)
        return first.protocol + " ports " + std::to_string(first.first_port) + " to 65535";
    if (first.index == last.index)
        return "entry " + std::to_string(first.index + 1);
    return "entries " + std::to_string(first.index + 1) + " to " + std::to_string(last.index + 1);
}

} // namespace

std::string unread_text(const std::vector<Unread>& unread) {
    // A router that refuses one entry often refuses its neighbours the same way: one run each.
    constexpr std::size_t kRunsShown = 3;
    std::string runs;
    std::size_t i = 0;
    for (std::size_t shown = 0; i < unread.size() && shown < kRunsShown; ++shown) {
        const Unread& first = unread[i];
        std::size_t end = i + 1;
        while (first.index >= 0 && end < unread.size() &&
               unread[end].index == unread[end - 1].index + 1 && unread[end].reason == first.reason)
            ++end;
        if (!runs.empty())
            runs += "; ";
        runs += unread_place(first, unread[end - 1]) + ": " + first.reason;
        i = end;
    }
    if (i < unread.size())
        runs += "; " + std::to_string(unread.size() - i) + " more";
    return runs.empty() ? "" : "The router did not list every mapping (" + runs + ").";
}

} // namespace quaymap
