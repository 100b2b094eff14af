#include "UpnpNat.h"

#include <cctype>

namespace {

// Reads the port the way the C library's string-to-integer conversion would (leading blanks,
// a sign, digits), keeping only the low 16 bits so that no text can overflow it.
uint16_t port_from_text(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    uint16_t value = 0;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
        value = static_cast<uint16_t>(value * 10u + static_cast<unsigned>(text[i] - '0'));
    return negative ? static_cast<uint16_t>(0u - value) : value;
}

} // namespace

bool UpnpNat::parse_url(const std::string& url, std::string& host, uint16_t& port,
                        std::string& path) {
    const std::size_t separator = url.find("://");
    if (separator == std::string::npos)
        return false;
    const std::size_t host_start = separator + 3;
    const std::size_t slash = url.find('/', host_start);
    const std::size_t colon = url.find(':', host_start);
    if (slash == std::string::npos)
        return false;
    // A colon that only stands in the path names no port.
    if (colon != std::string::npos && colon < slash) {
        host = url.substr(host_start, colon - host_start);
        port = port_from_text(url.substr(colon + 1, slash - colon - 1));
    } else {
        host = url.substr(host_start, slash - host_start);
        port = 80;
    }
    path = url.substr(slash);
    return true;
}
