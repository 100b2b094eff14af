#pragma once

#include "UpnpNat.h"
#include "xmlParser.h"

#include <string>

namespace upnp_detail {

// Walks a reading action's answer down to the out-arguments of its response element. The
// first missing element is remembered as the failure text that the client reports. The answer
// is parsed once, for its verdict and its fault as well.
class AnswerWalk {
  public:
    AnswerWalk(const std::string& answer, const std::string& action);

    bool ok() const { return error_.empty(); }
    const std::string& error() const { return error_; }

    // How the answer came out, as upnp_wire::verdict_of tells it.
    UpnpNat::Failure verdict() const;
    // The errorCode and errorDescription of the fault's UPnPError, as upnp_wire::upnp_error_of
    // reads them; false (outputs untouched) when it holds none.
    bool upnp_error(int& code, std::string& description) const;

    // The first text of the out-argument, empty when it has none. Once an argument is missing
    // the walk stops: later calls give the empty text and keep the first failure.
    std::string argument(const char* name);
    // The first text of an out-argument that routers may leave out: empty when missing, and
    // no failure.
    std::string optional_argument(const char* name) const;

  private:
    bool missing(const XMLNode& node, const std::string& label);

    bool empty_;
    bool status_200_;
    XMLNode envelope_;
    XMLNode body_;
    XMLNode response_;
    std::string error_;
};

} // namespace upnp_detail
