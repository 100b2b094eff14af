#pragma once

#include "FakeRouter.h"
#include "UpnpNat.h"
#include "wire/wire_text.h"
#include "xmlParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using fakerouter::http;
using Failure = UpnpNat::Failure;

inline bool has(const std::string& text, const std::string& part) {
    return text.find(part) != std::string::npos;
}

// A client on a fake router whose WAN IP service is already found. Every limit is short, so
// that only a wait that nothing bounds can make a test slow.
class Client : public ::testing::Test {
  protected:
    fakerouter::FakeRouter router;
    UpnpNat nat;

    Client() {
        nat.console = nullptr;
        nat.ssdp_address = "127.0.0.1";
        nat.ssdp_port = router.ssdp_port;
        nat.default_gateway = "127.0.0.1";
        nat.timings = UpnpTimings{200, 5, 2000, 200, 40, 300, 500};
        nat.init(3);
        nat.service_type = SERVICE_WANIP;
        nat.control_url = router.url("/ctl/IPConn");
    }
    std::string reply(const std::string& action, const std::string& arguments = "") const {
        return http(router.file("response.xml", {{"@ACTION@", action}, {"@ARGS@", arguments}}));
    }
    std::string fault(int code, const std::string& text,
                      const std::string& status = "500 Internal Server Error") const {
        return http(router.file("fault.xml", {{"@CODE@", std::to_string(code)}, {"@TEXT@", text}}),
                    status);
    }
    // A mapping of `port` to the same port of 192.168.1.20, lease 3600: as out-arguments
    // (entry.xml), or as an entry of a listing (list-entry.xml, names after `prefix`).
    std::string entry(int port, const std::string& description = "web",
                      const std::string& protocol = "TCP", const char* file = "entry.xml",
                      const std::string& prefix = "") const {
        return router.file(file, {{"@N@", std::to_string(port)},
                                  {"@PROTO@", protocol},
                                  {"@DESC@", EncodeXMLEntities(description)},
                                  {"@P@", prefix}});
    }
    // Answers `action` (by its SOAPACTION) when the request also holds each of `also`.
    void on(const std::string& action, const std::string& answer,
            std::vector<std::string> also = {}) {
        also.push_back("#" + action + "\"");
        router.on_http({also, answer});
    }
    std::vector<std::string> asked(const std::string& action) const {
        std::vector<std::string> found;
        for (const std::string& request : router.requests())
            if (has(request, "#" + action + "\""))
                found.push_back(request);
        return found;
    }
};
