#include "answer_walk.h"
#include "wire_text.h"

#include <cctype>
#include <climits>

namespace upnp_detail {

AnswerWalk::AnswerWalk(const std::string& answer, const std::string& action, bool broken)
    : empty_(answer.empty()), broken_(broken), status_200_(upnp_wire::http_status_is_200(answer)),
      envelope_(ParseXMLText(answer, "Envelope")), body_(FindChildNamed(envelope_, "Body")),
      response_(FindChildNamed(body_, action + "Response")) {
    if (!missing(envelope_, "SOAP-ENV:Envelope") && !missing(body_, "SOAP-ENV:Body"))
        missing(response_, "u:" + action + "Response");
}

UpnpNat::Failure AnswerWalk::verdict() const {
    if (empty_)
        return UpnpNat::Failure::unreachable;
    if (broken_)
        return UpnpNat::Failure::bad_answer;
    if (!IsEmptyNode(FindChildNamed(body_, "Fault")) || !status_200_)
        return UpnpNat::Failure::refused;
    return IsEmptyNode(response_) ? UpnpNat::Failure::bad_answer : UpnpNat::Failure::none;
}

bool AnswerWalk::upnp_error(int& code, std::string& description) const {
    const XMLNode error =
        FindChildNamed(FindChildNamed(FindChildNamed(body_, "Fault"), "detail"), "UPnPError");
    const std::string text = TextAtOrEmpty(FindChildNamed(error, "errorCode"), 0);
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i])))
        ++i;
    long value = 0;
    const std::size_t digits = i;
    for (; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i)
        if (value < INT_MAX / 10)
            value = value * 10 + (text[i] - '0');
    if (i == digits)
        return false;
    code = static_cast<int>(value);
    description = TextAtOrEmpty(FindChildNamed(error, "errorDescription"), 0);
    return true;
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
