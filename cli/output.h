// What quaymap-cli prints: plain text for people, or one JSON document with stable keys. Router
// text in either is data: escaped for a terminal, and always valid UTF-8 in JSON.
#pragma once

#include "Engine.h"

#include <string>
#include <vector>

namespace quaymap_cli {

// One add or delete of one protocol, and what the router said.
struct Step {
    std::string protocol;
    uint16_t external_port = 0;
    quaymap::CommandResult result;
};

std::string json_string(const std::string& text);

std::string status_text(const quaymap::SearchOutcome& router);
std::string status_json(const quaymap::SearchOutcome& router);

// `marks`: what QuayMap's record says of each row ("kept", "made here", empty), which the text
// shows in a column of its own when it says anything.
std::string list_text(const std::vector<quaymap::Mapping>& rows,
                      const std::vector<std::string>& marks = {});
std::string list_json(const quaymap::SearchOutcome& router,
                      const std::vector<quaymap::Mapping>& rows,
                      const quaymap::CommandResult& result,
                      const std::vector<std::string>& marks = {});

// "8080/TCP": the port the router granted once it did (a NAT-PMP gateway may grant another).
std::string step_port(const Step& step);
// "added 8080/TCP -> 192.168.87.20:80 (web, lease permanent)", "deleted 8080/TCP".
std::string step_text(bool adding, const Step& step);
std::string steps_json(const char* command, const quaymap::SearchOutcome& router,
                       const std::vector<Step>& steps);

// The document of a command that found no router, or whose command line was wrong.
std::string failure_json(const char* command, const char* verdict, const std::string& message);

} // namespace quaymap_cli
