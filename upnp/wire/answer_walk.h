#pragma once

#include "UpnpNat.h"
#include "xmlFlatDocument.h"

#include <string>
#include <string_view>

namespace upnp_detail {

// Walks a reading action's answer down to the out-arguments of its response element. The
// first missing element is remembered as the failure text that the client reports. The answer
// is parsed once, for its verdict and its fault as well.
class AnswerWalk {
  public:
    // `broken`: the answer's framing broke, so whatever it holds is not the router's word.
    AnswerWalk(const std::string& answer, const std::string& action, bool broken = false);

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    // How the answer came out: none only for status 200 with the action's own response element
    // (Envelope/Body/<action>Response); a Fault is a refusal whatever the status.
    UpnpNat::Failure verdict() const;
    // The errorCode and errorDescription of the fault's UPnPError; false (outputs untouched)
    // when it holds none.
    bool upnp_error(int& code, std::string& description) const;

    // The first text of the out-argument, empty when it has none. Once an argument is missing
    // the walk stops: later calls give the empty text and keep the first failure.
    std::string argument(const char* name);
    // The first text of an out-argument that routers may leave out: empty when missing, and
    // no failure.
    std::string optional_argument(const char* name) const;

  private:
    using Element = XMLFlatDocument::Element;
    bool missing(Element node, std::string_view label);

    bool empty_;
    bool broken_;
    bool status_200_;
    // Read as a flat table: an answer is walked once, down a few elements, and dropped.
    XMLFlatDocument document_;
    Element envelope_;
    Element body_;
    Element response_;
    std::string error_;
};

} // namespace upnp_detail
