#include "UpnpNat.h"

#include <cstdarg>
#include <unistd.h>

const char* const SERVICE_WANIP = "urn:schemas-upnp-org:service:WANIPConnection:1";
const char* const SERVICE_WANPPP = "urn:schemas-upnp-org:service:WANPPPConnection:1";
const char* const SERVICE_WANIP2 = "urn:schemas-upnp-org:service:WANIPConnection:2";
const char* const SERVICE_WANIP6FC = "urn:schemas-upnp-org:service:WANIPv6FirewallControl:1";

UpnpNat upnp_nat;

bool UpnpNat::init(int32_t tries) {
    connect_tries = tries;
    status = STATUS_READY;
    return true;
}

bool UpnpNat::fail(const std::string& text, Failure kind) {
    status = STATUS_FAILED;
    last_error = text;
    failure = kind;
    return false;
}

bool UpnpNat::succeed(int32_t new_status) {
    status = new_status;
    failure = Failure::none;
    return true;
}

void UpnpNat::say(const char* format, ...) const {
    if (console == nullptr)
        return;
    va_list arguments;
    va_start(arguments, format);
    std::vfprintf(console, format, arguments);
    va_end(arguments);
    std::fflush(console);
}

void UpnpNat::close_tcp() {
    if (tcp_socket >= 0) {
        ::close(tcp_socket);
        tcp_socket = -1;
    }
}

void UpnpNat::close_udp() {
    if (udp_socket >= 0) {
        ::close(udp_socket);
        udp_socket = -1;
    }
}
