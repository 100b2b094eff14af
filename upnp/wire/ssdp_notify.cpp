#include "ssdp_notify.h"

#include <cctype>

namespace upnp_wire {

namespace {

bool same_letters(const std::string& a, const std::string& b) {
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string trimmed(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

} // namespace

bool ssdp_header(const std::string& datagram, const std::string& name, std::string& value) {
    // The first line is the request or status line, and a blank line ends the headers.
    std::size_t line = datagram.find('\n');
    while (line != std::string::npos && ++line < datagram.size()) {
        const std::size_t end = datagram.find('\n', line);
        const std::string text = datagram.substr(line, end - line);
        if (trimmed(text).empty())
            return false;
        const std::size_t colon = text.find(':');
        if (colon != std::string::npos && same_letters(trimmed(text.substr(0, colon)), name)) {
            value = trimmed(text.substr(colon + 1));
            return true;
        }
        line = end;
    }
    return false;
}

bool ssdp_notice_of(const std::string& datagram, SsdpNotice& notice) {
    std::string kind;
    if (!same_letters(datagram.substr(0, 9), "NOTIFY * ") || !ssdp_header(datagram, "NTS", kind) ||
        (!same_letters(kind, "ssdp:alive") && !same_letters(kind, "ssdp:byebye")))
        return false;
    notice = SsdpNotice();
    notice.alive = same_letters(kind, "ssdp:alive");
    ssdp_header(datagram, "BOOTID.UPNP.ORG", notice.boot_id);
    ssdp_header(datagram, "LOCATION", notice.location);
    return true;
}

} // namespace upnp_wire
