#include "wire_text.h"

#include <cctype>

namespace upnp_wire {

namespace {

bool is_blank(char c) {
    return c == ' ' || c == '\t';
}

// Start of the LOCATION header's value, or npos when the answer has no such header.
std::size_t location_value(const std::string& answer) {
    static const char name[] = "location";
    const std::size_t name_length = sizeof name - 1;
    std::size_t line = 0;
    while (line < answer.size()) {
        std::size_t i = 0;
        while (i < name_length && line + i < answer.size() &&
               std::tolower(static_cast<unsigned char>(answer[line + i])) == name[i])
            ++i;
        if (i == name_length) {
            std::size_t p = line + name_length;
            while (p < answer.size() && is_blank(answer[p]))
                ++p;
            if (p < answer.size() && answer[p] == ':') {
                ++p;
                while (p < answer.size() && is_blank(answer[p]))
                    ++p;
                return p;
            }
        }
        const std::size_t end = answer.find('\n', line);
        if (end == std::string::npos)
            break;
        line = end + 1;
    }
    return std::string::npos;
}

} // namespace

bool description_url_of(const std::string& answer, std::string& url) {
    std::size_t start = location_value(answer);
    if (start == std::string::npos || start >= answer.size() || answer[start] == '\r' ||
        answer[start] == '\n')
        start = answer.find("http://");
    if (start == std::string::npos)
        return false;
    // Header lines end in a carriage return; a URL that runs into a bare line feed is refused.
    const std::size_t end = answer.find_first_of("\r\n", start);
    if (end == std::string::npos || answer[end] != '\r')
        return false;
    std::size_t last = end;
    while (last > start && is_blank(answer[last - 1]))
        --last;
    url = answer.substr(start, last - start);
    return true;
}

std::string description_request(const std::string& path, const std::string& authority) {
    return "GET " + path + " HTTP/1.1\r\nHost: " + authority + "\r\nConnection: close\r\n\r\n";
}

} // namespace upnp_wire
