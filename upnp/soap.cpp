#include "UpnpNat.h"
#include "http/url.h"
#include "wire/wire_text.h"

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
    return call({host, port, path, host.find(':') != std::string::npos}, service_type, action,
                arguments, max_tries, answer);
}

bool UpnpNat::call(const upnp_http::Url& to, const std::string& type, const std::string& action,
                   const std::string& arguments, int max_tries, std::string& answer,
                   upnp_http::Clock::time_point deadline, const std::string& source) {
    // A reason left from an earlier action must not be read as this one's.
    upnp_error_code = 0;
    upnp_error_description.clear();
    std::string request = upnp_wire::soap_request(to, type, action, arguments);
    // Only AddPortMapping marks its receive loop on the console.
    const bool marked = action == "AddPortMapping";
    if (marked)
        say("aaaaaaaaaaaaaaaaaaaaaaaaaa\n");
    const bool sent = transfer(to, std::move(request), max_tries, "Envelope>",
                               marked ? Echo::marks : Echo::none, deadline, answer, source);
    if (marked && sent)
        say("bbbbbbbbbbbbbbbb\n");
    return sent;
}
