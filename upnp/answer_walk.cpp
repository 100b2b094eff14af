#include "answer_walk.h"

namespace upnp_detail {

AnswerWalk::AnswerWalk(const std::string& answer, const std::string& action) {
    envelope_ = ParseXMLText(answer, "Envelope");
    if (missing(envelope_, "SOAP-ENV:Envelope"))
        return;
    const XMLNode body = FindChildNamed(envelope_, "Body");
    if (missing(body, "SOAP-ENV:Body"))
        return;
    response_ = FindChildNamed(body, action + "Response");
    missing(response_, "u:" + action + "Response");
}

bool AnswerWalk::missing(const XMLNode& node, const std::string& label) {
    if (!IsEmptyNode(node))
        return false;
    error_ = "Fail to get mapping info from response data.(NO \"" + label + "\" node.)\n";
    return true;
}

std::string AnswerWalk::argument(const char* name) {
    if (!ok())
        return std::string();
    const XMLNode node = ChildNamedAt(response_, name, 0);
    if (missing(node, name))
        return std::string();
    return TextAtOrEmpty(node, 0);
}

std::string AnswerWalk::optional_argument(const char* name) const {
    return ok() ? TextAtOrEmpty(ChildNamedAt(response_, name, 0), 0) : std::string();
}

} // namespace upnp_detail
