#include "UpnpNat.h"
#include "socket_util.h"
#include "wire_text.h"

using namespace upnp_detail;

bool UpnpNat::soap_call(const std::string& action, const std::string& arguments, int max_tries,
                        std::string& answer) {
    std::string host;
    uint16_t port = 0;
    std::string path;
    if (!parse_url(control_url, host, port, path))
        return fail("Fail to parseURl: " + control_url + "\n", Failure::unreachable);
    return exchange(host, port, path, action, arguments, max_tries, answer);
}

bool UpnpNat::exchange(const std::string& host, uint16_t port, const std::string& path,
                       const std::string& action, const std::string& arguments, int max_tries,
                       std::string& answer) {
    // A reason left from an earlier action must not be read as this one's.
    upnp_error_code = 0;
    upnp_error_description.clear();
    if (!tcp_connect(host, port))
        return false;
    const std::string envelope = upnp_wire::soap_envelope(action, service_type, arguments);
    const std::string request =
        upnp_wire::soap_header(path, host, port, service_type, action, envelope.size()) + envelope;
    send_whole(tcp_socket, request, timings.read_wait_ms * max_tries);
    // Only AddPortMapping marks its receive loop on the console.
    const bool marked = action == "AddPortMapping";
    if (marked)
        say("aaaaaaaaaaaaaaaaaaaaaaaaaa\n");
    answer = receive_answer("Envelope>", max_tries, marked ? Echo::marks : Echo::none);
    if (marked)
        say("bbbbbbbbbbbbbbbb\n");
    return true;
}

void UpnpNat::note_upnp_error(const std::string& answer) {
    upnp_error_code = 0;
    upnp_error_description.clear();
    upnp_wire::upnp_error_of(answer, upnp_error_code, upnp_error_description);
}
