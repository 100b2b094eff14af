#include "UpnpNat.h"

bool UpnpNat::parse_url(const std::string& url, std::string& host, uint16_t& port,
                        std::string& path) {
    upnp_http::Url parts;
    if (!upnp_http::split_url(url, parts))
        return false;
    host = parts.host;
    port = parts.port;
    path = parts.path;
    return true;
}
