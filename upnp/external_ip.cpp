#include "UpnpNat.h"
#include "answer_walk.h"
#include "wire_text.h"

bool UpnpNat::get_external_ip(std::string& address) {
    std::string answer;
    if (!soap_call("GetExternalIPAddress", "", 10, answer))
        return false;
    close_tcp();
    if (!upnp_wire::http_status_is_200(answer))
        return fail("Fail to get router internet ip.\n");
    upnp_detail::AnswerWalk walk(answer, "GetExternalIPAddress");
    const std::string value = walk.argument("NewExternalIPAddress");
    if (!walk.ok())
        return fail(walk.error());
    address = value;
    status = STATUS_READ;
    return true;
}
