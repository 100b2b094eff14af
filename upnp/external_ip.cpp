#include "UpnpNat.h"
#include "wire/answer_walk.h"
#include "wire/wire_text.h"

bool UpnpNat::get_external_ip(std::string& address) {
    std::string answer;
    if (!soap_call("GetExternalIPAddress", "", 10, answer))
        return false;
    close_tcp();
    upnp_detail::AnswerWalk walk = read_answer(answer, "GetExternalIPAddress");
    const Failure verdict = walk.verdict();
    if (verdict == Failure::unreachable || verdict == Failure::refused || !answer_problem_.empty())
        return fail("Fail to get router internet ip.\n", verdict);
    const std::string value = walk.argument("NewExternalIPAddress");
    if (!walk.ok())
        return fail(walk.error(), Failure::bad_answer);
    address = value;
    return succeed(STATUS_READ);
}
