#include "answer_walk.h"
#include "wire_text.h"

#include <cctype>
#include <climits>

namespace upnp_detail {

namespace {

std::string response_name(const std::string& action) {
    std::string name;
    name.reserve(action.size() + 8);
    return name.append(action).append("Response");
}

} // namespace

AnswerWalk::AnswerWalk(const std::string& answer, const std::string& action, bool broken)
    : empty_(answer.empty()), broken_(broken), status_200_(upnp_wire::http_status_is_200(answer)),
      document_(answer, "Envelope"), envelope_(document_.Found()),
      body_(document_.FindChildNamed(envelope_, "Body")),
      response_(document_.FindChildNamed(body_, response_name(action))) {
    // The label is written only when it is needed.
    if (!missing(envelope_, "SOAP-ENV:Envelope") && !missing(body_, "SOAP-ENV:Body") &&
        response_ == XMLFlatDocument::kNone)
        missing(response_, "u:" + action + "Response");
}

UpnpNat::Failure AnswerWalk::verdict() const {
    if (empty_)
        return UpnpNat::Failure::unreachable;
    if (broken_)
        return UpnpNat::Failure::bad_answer;
    if (document_.FindChildNamed(body_, "Fault") != XMLFlatDocument::kNone || !status_200_)
        return UpnpNat::Failure::refused;
    return response_ == XMLFlatDocument::kNone ? UpnpNat::Failure::bad_answer
                                               : UpnpNat::Failure::none;
}

bool AnswerWalk::upnp_error(int& code, std::string& description) const {
    const Element error = document_.FindChildNamed(
        document_.FindChildNamed(document_.FindChildNamed(body_, "Fault"), "detail"), "UPnPError");
    const std::string text =
        document_.TextAtOrEmpty(document_.FindChildNamed(error, "errorCode"), 0);
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
    description = document_.TextAtOrEmpty(document_.FindChildNamed(error, "errorDescription"), 0);
    return true;
}

bool AnswerWalk::missing(Element node, std::string_view label) {
    if (node != XMLFlatDocument::kNone)
        return false;
    error_ = "Fail to get mapping info from response data.(NO \"";
    error_.append(label).append("\" node.)\n");
    return true;
}

std::string AnswerWalk::argument(const char* name) {
    if (!ok())
        return std::string();
    const Element node = document_.FindChildNamed(response_, name);
    if (missing(node, name))
        return std::string();
    return document_.TextAtOrEmpty(node, 0);
}

std::string AnswerWalk::optional_argument(const char* name) const {
    return ok() ? document_.TextAtOrEmpty(document_.FindChildNamed(response_, name), 0)
                : std::string();
}

} // namespace upnp_detail
