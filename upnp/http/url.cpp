#include "url.h"

#include <cctype>
#include <strings.h>

namespace upnp_http {

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

bool refuse(std::string* why, const std::string& reason) {
    if (why)
        *why = reason;
    return false;
}

// The five parts of a URI reference (RFC 3986, appendix B); a part that is absent is not
// the same as one that is empty, so each carries whether it was there.
struct Parts {
    std::string scheme, authority, path, query, fragment;
    bool has_scheme = false, has_authority = false, has_query = false, has_fragment = false;
};

bool is_scheme(const std::string& text) {
    if (!std::isalpha(static_cast<unsigned char>(text[0])))
        return false;
    for (const char c : text)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '+' && c != '-' && c != '.')
            return false;
    return true;
}

Parts parts_of(const std::string& text) {
    Parts p;
    std::size_t i = 0;
    const std::size_t colon = text.find(':');
    const std::size_t stop = text.find_first_of("/?#");
    if (colon != std::string::npos && colon > 0 && (stop == std::string::npos || colon < stop) &&
        is_scheme(text.substr(0, colon))) {
        p.scheme = text.substr(0, colon);
        p.has_scheme = true;
        i = colon + 1;
    }
    if (text.compare(i, 2, "//") == 0) {
        const std::size_t end = text.find_first_of("/?#", i + 2);
        p.authority = text.substr(i + 2, end - (i + 2));
        p.has_authority = true;
        i = end == std::string::npos ? text.size() : end;
    }
    const std::size_t path_end = std::min(text.find_first_of("?#", i), text.size());
    p.path = text.substr(i, path_end - i);
    i = path_end;
    if (i < text.size() && text[i] == '?') {
        const std::size_t end = std::min(text.find('#', i), text.size());
        p.query = text.substr(i + 1, end - i - 1);
        p.has_query = true;
        i = end;
    }
    if (i < text.size() && text[i] == '#') {
        p.fragment = text.substr(i + 1);
        p.has_fragment = true;
    }
    return p;
}

// RFC 3986, section 5.2.4.
std::string remove_dot_segments(std::string in) {
    std::string out;
    while (!in.empty()) {
        if (in.compare(0, 3, "../") == 0) {
            in.erase(0, 3);
        } else if (in.compare(0, 2, "./") == 0) {
            in.erase(0, 2);
        } else if (in.compare(0, 3, "/./") == 0) {
            in.erase(0, 2);
        } else if (in == "/.") {
            in = "/";
        } else if (in.compare(0, 4, "/../") == 0 || in == "/..") {
            in = in.size() == 3 ? "/" : in.substr(3);
            const std::size_t last = out.rfind('/');
            out.erase(last == std::string::npos ? 0 : last);
        } else if (in == "." || in == "..") {
            in.clear();
        } else {
            const std::size_t end = in.find('/', in[0] == '/' ? 1 : 0);
            out += in.substr(0, end);
            in.erase(0, end == std::string::npos ? in.size() : end);
        }
    }
    return out;
}

// RFC 3986, section 5.2.3.
std::string merge(const Parts& base, const std::string& path) {
    if (base.has_authority && base.path.empty())
        return "/" + path;
    const std::size_t last = base.path.rfind('/');
    return (last == std::string::npos ? std::string() : base.path.substr(0, last + 1)) + path;
}

std::string recompose(const Parts& p) {
    std::string text;
    if (p.has_scheme)
        text += p.scheme + ":";
    if (p.has_authority)
        text += "//" + p.authority;
    text += p.path;
    if (p.has_query)
        text += "?" + p.query;
    if (p.has_fragment)
        text += "#" + p.fragment;
    return text;
}

} // namespace

std::string Url::authority() const {
    const std::string name = ipv6 ? "[" + host + "]" : host;
    return name + ":" + std::to_string(port);
}

bool split_url(const std::string& text, Url& url, std::string* why) {
    const std::size_t separator = text.find("://");
    if (separator == std::string::npos)
        return refuse(why, "it is no absolute URL");
    if (separator != 4 || ::strncasecmp(text.c_str(), "http", 4) != 0)
        return refuse(why, "only http is spoken, not " + text.substr(0, separator));
    const std::size_t host_start = separator + 3;
    const std::size_t slash = text.find('/', host_start);
    if (slash == std::string::npos)
        return refuse(why, "it has no path");
    std::size_t host_end = host_start;
    url.ipv6 = host_start < slash && text[host_start] == '[';
    if (url.ipv6) {
        const std::size_t close = text.find(']', host_start);
        if (close == std::string::npos || close > slash)
            return refuse(why, "its IPv6 address has no closing bracket");
        url.host = text.substr(host_start + 1, close - host_start - 1);
        host_end = close + 1;
    }
    // A colon that only stands in the path names no port.
    const std::size_t colon = text.find(':', host_end);
    if (colon != std::string::npos && colon < slash) {
        if (!url.ipv6)
            url.host = text.substr(host_start, colon - host_start);
        url.port = port_from_text(text.substr(colon + 1, slash - colon - 1));
    } else {
        if (!url.ipv6)
            url.host = text.substr(host_start, slash - host_start);
        url.port = 80;
    }
    url.path = text.substr(slash);
    return true;
}

std::string resolve(const std::string& base_text, const std::string& reference) {
    const Parts r = parts_of(reference), base = parts_of(base_text);
    Parts t;
    if (r.has_scheme) {
        t = r;
        t.path = remove_dot_segments(r.path);
    } else {
        t.scheme = base.scheme;
        t.has_scheme = base.has_scheme;
        if (r.has_authority) {
            t.authority = r.authority;
            t.has_authority = true;
            t.path = remove_dot_segments(r.path);
            t.query = r.query;
            t.has_query = r.has_query;
        } else {
            t.authority = base.authority;
            t.has_authority = base.has_authority;
            if (r.path.empty()) {
                t.path = base.path;
                t.query = r.has_query ? r.query : base.query;
                t.has_query = r.has_query || base.has_query;
            } else {
                t.path = remove_dot_segments(r.path[0] == '/' ? r.path : merge(base, r.path));
                t.query = r.query;
                t.has_query = r.has_query;
            }
        }
        t.fragment = r.fragment;
        t.has_fragment = r.has_fragment;
    }
    return recompose(t);
}

} // namespace upnp_http
