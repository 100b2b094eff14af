#include "output.h"

#include "explain.h"
#include "router_text.h"
#include "rules.h"
#include "terminal.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace quaymap_cli {

using quaymap::CommandResult;
using quaymap::RouterKind;
using quaymap::SearchOutcome;

namespace {

// "igd1", "igd2", "natpmp", "none": the engine's names without the protocol in front.
// A number where the router wrote one, else its text as it stands.
std::string number_or_text(const std::string& text) {
    if (!text.empty() && text.size() <= 10 &&
        text.find_first_not_of("0123456789") == std::string::npos)
        return std::to_string(std::atoll(text.c_str()));
    return text.empty() ? "null" : json_string(text);
}

// A router's fields, without the closing brace.
std::string choice_json(RouterKind kind, const std::string& name, const std::string& address) {
    return "{\"kind\":" + json_string(quaymap::kind_key(kind)) + ",\"name\":" + json_string(name) +
           ",\"address\":" + json_string(address);
}

std::string router_json(const SearchOutcome& router) {
    return choice_json(router.kind, router.name, router.address) +
           ",\"this_computer\":" + json_string(router.lan_address) + "}";
}

// The routers found besides the chosen one.
std::vector<quaymap::RouterChoice> others(const SearchOutcome& router) {
    std::vector<quaymap::RouterChoice> found;
    for (const quaymap::RouterChoice& choice : router.routers)
        if (choice.address != router.address)
            found.push_back(choice);
    return found;
}

std::string mapping_json(const quaymap::Mapping& row) {
    return "{\"name\":" + json_string(row.description) +
           ",\"external_port\":" + number_or_text(row.external_port) +
           ",\"protocol\":" + json_string(row.protocol) +
           ",\"internal_client\":" + json_string(row.internal_client) +
           ",\"internal_port\":" + number_or_text(row.internal_port) +
           ",\"lease_seconds\":" + number_or_text(row.lease_duration) + "}";
}

// An entry by its place in the router's table (from 1), or a range of ports a page did not list.
std::string unread_json(const quaymap::Unread& entry) {
    std::string text = "{\"entry\":";
    if (entry.index < 0)
        text += "null,\"protocol\":" + json_string(entry.protocol) +
                ",\"first_port\":" + std::to_string(entry.first_port);
    else
        text += std::to_string(entry.index + 1);
    return text + ",\"reason\":" + json_string(entry.reason) + "}";
}

// Blanks after what `out` holds from `start` on, up to `width`.
void pad_from(std::string& out, std::size_t start, std::size_t width) {
    // Columns line up by characters, not bytes: the arrow of "2222 → 22" is three bytes.
    std::size_t shown = 0;
    for (std::size_t i = start; i < out.size(); ++i)
        shown += (static_cast<unsigned char>(out[i]) & 0xC0) != 0x80;
    if (shown < width)
        out.append(width - shown, ' ');
}

// Router text as the terminal may show it, in a column `width` characters wide.
void cell_onto(std::string& out, const std::string& text, std::size_t width) {
    const std::size_t start = out.size();
    if (!append_terminal_text(out, text))
        return pad_from(out, start, width);
    if (text.size() < width) // ASCII: a character a byte
        out.append(width - text.size(), ' ');
}

} // namespace

std::string json_string(const std::string& text) {
    std::string out = "\"";
    for (std::size_t at = 0; at < text.size();) {
        const quaymap::Utf8Char c = quaymap::utf8_at(text, at);
        if (c.code == '"' || c.code == '\\') {
            out += '\\';
            out += static_cast<char>(c.code);
        } else if (quaymap::is_control(c.code)) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04x", static_cast<unsigned>(c.code));
            out += escaped;
        } else if (c.code == 0xFFFD) {
            quaymap::append_utf8(out, c.code); // a byte that is no UTF-8 never reaches the document
        } else {
            out.append(text, at, c.length);
        }
        at += c.length;
    }
    return out + "\"";
}

std::string status_text(const SearchOutcome& router) {
    std::string text = "router: " + terminal_text(router.name) + " (" +
                       quaymap::kind_words(router.kind) + ") at " + terminal_text(router.address) +
                       "\n";
    text +=
        "public address: " + (router.public_address.empty() ? std::string("unknown")
                                                            : terminal_text(router.public_address));
    if (!router.public_address.empty())
        text += quaymap::is_public_address(router.public_address) ? " (public)" : " (not public)";
    text += "\nthis computer: " + router.lan_address + "\n";
    for (const quaymap::RouterChoice& other : others(router))
        text += "also found: " + terminal_text(other.name) + " (" +
                quaymap::kind_words(other.kind) + ") at " + terminal_text(other.address) + "\n";
    return text;
}

std::string status_json(const SearchOutcome& router) {
    std::string routers = "[" + choice_json(router.kind, router.name, router.address) + "}";
    for (const quaymap::RouterChoice& other : others(router))
        routers += "," + choice_json(other.kind, other.name, other.address) + "}";
    return "{\"command\":\"status\",\"ok\":true,\"router\":" + router_json(router) +
           ",\"routers\":" + routers + "]" + ",\"public_address\":" +
           (router.public_address.empty() ? std::string("null")
                                          : json_string(router.public_address)) +
           ",\"address_is_public\":" +
           (quaymap::is_public_address(router.public_address) ? "true" : "false") + "}\n";
}

std::string list_text(const std::vector<quaymap::Mapping>& rows,
                      const std::vector<std::string>& marks) {
    const bool marked = std::any_of(marks.begin(), marks.end(),
                                    [](const std::string& mark) { return !mark.empty(); });
    std::string text;
    // About a line's width a row: a table of hundreds of rows is not copied as it grows.
    text.reserve((rows.size() + 1) * 80);
    cell_onto(text, "PORT", 14);
    cell_onto(text, "PROTOCOL", 10);
    cell_onto(text, "INTERNAL", 23);
    cell_onto(text, "LEASE", 11);
    if (marked)
        cell_onto(text, "QUAYMAP", 11);
    text += "NAME\n";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const quaymap::Mapping& row = rows[i];
        cell_onto(text, quaymap::ports_text(row), 14);
        cell_onto(text, row.protocol, 10);
        cell_onto(text, row.internal_client + ":" + row.internal_port, 23);
        const std::size_t lease = text.size();
        text += quaymap::lease_text(row.lease_duration);
        pad_from(text, lease, 11);
        if (marked)
            cell_onto(text, i < marks.size() ? marks[i] : "", 11);
        append_terminal_text(text, row.description);
        text += '\n';
    }
    return text;
}

std::string list_json(const SearchOutcome& router, const std::vector<quaymap::Mapping>& rows,
                      const CommandResult& result, const std::vector<std::string>& marks) {
    std::string text =
        "{\"command\":\"list\",\"ok\":" + std::string(result.ok() ? "true" : "false") +
        ",\"router\":" + router_json(router) + ",\"mappings\":[";
    for (std::size_t i = 0; i < rows.size(); ++i) {
        std::string row = mapping_json(rows[i]);
        const std::string mark = i < marks.size() ? marks[i] : "";
        row.insert(row.size() - 1, ",\"quaymap\":" + (mark.empty() ? "null" : json_string(mark)));
        text += (i ? "," : "") + row;
    }
    text += "],\"complete\":" + std::string(result.complete() ? "true" : "false") + ",\"unread\":[";
    for (std::size_t i = 0; i < result.unread.size(); ++i)
        text += (i ? "," : "") + unread_json(result.unread[i]);
    text += "]";
    if (!result.ok())
        text += ",\"error\":{\"verdict\":" + json_string(quaymap::verdict_name(result.verdict)) +
                ",\"message\":" + json_string(result.message) + "}";
    return text + "}\n";
}

std::string step_port(const Step& step) {
    const std::string& granted = step.result.row.external_port;
    return terminal_text(granted.empty() ? std::to_string(step.external_port) : granted) + "/" +
           step.protocol;
}

std::string step_text(bool adding, const Step& step) {
    if (!adding)
        return "deleted " + step_port(step) + "\n";
    const quaymap::Mapping& row = step.result.row;
    const std::string asked = std::to_string(step.external_port);
    return "added " + step_port(step) +
           (row.external_port == asked ? "" : " (asked for " + asked + ")") + " -> " +
           terminal_text(row.internal_client + ":" + row.internal_port) + " (" +
           terminal_text(row.description) + ", lease " + quaymap::lease_text(row.lease_duration) +
           ")\n";
}

std::string steps_json(const char* command, const SearchOutcome& router,
                       const std::vector<Step>& steps) {
    bool all = true;
    std::string items;
    for (const Step& step : steps) {
        all = all && step.result.ok();
        items += std::string(items.empty() ? "" : ",") +
                 "{\"protocol\":" + json_string(step.protocol) +
                 ",\"external_port\":" + std::to_string(step.external_port) +
                 ",\"ok\":" + (step.result.ok() ? "true" : "false") +
                 ",\"verdict\":" + json_string(quaymap::verdict_name(step.result.verdict)) +
                 ",\"message\":" + json_string(step.result.message) +
                 ",\"upnp_error_code\":" + std::to_string(step.result.upnp_error_code);
        if (step.result.ok() && !step.result.row.external_port.empty())
            items += ",\"mapping\":" + mapping_json(step.result.row);
        items += "}";
    }
    return "{\"command\":" + json_string(command) + ",\"ok\":" + (all ? "true" : "false") +
           ",\"router\":" + router_json(router) + ",\"results\":[" + items + "]}\n";
}

std::string failure_json(const char* command, const char* verdict, const std::string& message) {
    return "{\"command\":" + json_string(command) + ",\"ok\":false,\"router\":null,\"error\":{" +
           "\"verdict\":" + json_string(verdict) + ",\"message\":" + json_string(message) + "}}\n";
}

} // namespace quaymap_cli
