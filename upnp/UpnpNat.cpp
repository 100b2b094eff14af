#include "UpnpNat.h"

#include <unistd.h>

const char* const SERVICE_WANIP = "urn:schemas-upnp-org:service:WANIPConnection:1";
const char* const SERVICE_WANPPP = "urn:schemas-upnp-org:service:WANPPPConnection:1";

UpnpNat upnp_nat;

bool UpnpNat::init(int32_t tries) {
    connect_tries = tries;
    status = STATUS_READY;
    return true;
}

bool UpnpNat::fail(const std::string& text) {
    status = STATUS_FAILED;
    last_error = text;
    return false;
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
