#include "UpnpNat.h"
#include "answer_walk.h"
#include "wire_text.h"

bool UpnpNat::get_external_ip(std::string& address) {
    std::string answer;
    if (!soap_call("GetExternalIPAddress", "", 10, answer))
        return false;
    close_tcp();
    const Failure verdict = judge(answer, "GetExternalIPAddress");
    if (verdict == Failure::unreachable || verdict == Failure::refused ||
        !answer_problem_.empty()) {
        note_upnp_error(answer);
        return fail("Fail to get router internet ip.\n", verdict);
    }
    upnp_detail::AnswerWalk walk(answer, "GetExternalIPAddress");
    const std::string value = walk.argument("NewExternalIPAddress");
    if (!walk.ok())
        return fail(walk.error(), Failure::bad_answer);
    address = value;
    return succeed(STATUS_READ);
}
