// The URLs a router hands out: split into what a connection needs, and resolved against a base.
// Pure text work, no socket.
#pragma once

#include <cstdint>
#include <string>

namespace upnp_http {

struct Url {
    std::string host; // an IPv6 literal without its brackets
    uint16_t port = 80;
    std::string path; // from the first "/" after the host on, query included
    bool ipv6 = false;

    // What the Host header names: "192.168.1.1:5000", "[fe80::1]:5000".
    std::string authority() const;
};

// Splits "http://host[:port]/path" (scheme in any case). The port is read as the C library reads a
// number (blanks, a sign, digits; none gives 0) and kept to its low 16 bits, as routers have
// always been taken. False, with the reason in `why` when given, for any other scheme, a URL
// without "://", or one without a "/" after its host.
bool split_url(const std::string& text, Url& url, std::string* why = nullptr);

// The target of `reference` seen from the absolute URI `base`: absolute, network-path,
// absolute-path and relative references, dot segments removed (RFC 3986, section 5.2).
std::string resolve(const std::string& base, const std::string& reference);

} // namespace upnp_http
