#include "record.h"

#include <cstdlib>
#include <sstream>

namespace quaymap {

namespace {

const char* const kHeader = "quaymap-record 1";
const char* const kComment =
    "# The port mappings QuayMap made. QuayMap replaces this file whole at each change.";

std::string escaped(const std::string& text) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (const char c : text) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte <= ' ' || byte == 0x7f || c == '%' || c == '=') {
            out += '%';
            out += digits[byte >> 4];
            out += digits[byte & 15];
        } else {
            out += c;
        }
    }
    return out;
}

int hex_digit(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

bool unescaped(const std::string& text, std::string& out) {
    out.clear();
    for (std::size_t at = 0; at < text.size(); ++at) {
        if (text[at] != '%') {
            out += text[at];
            continue;
        }
        const int high = at + 2 < text.size() ? hex_digit(text[at + 1]) : -1;
        const int low = high < 0 ? -1 : hex_digit(text[at + 2]);
        if (low < 0)
            return false;
        out += static_cast<char>(high * 16 + low);
        at += 2;
    }
    return true;
}

bool whole(const std::string& text, int64_t max, int64_t& value) {
    if (text.empty() || text.size() > 18 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::atoll(text.c_str());
    return value <= max;
}

bool port(const std::string& text, uint16_t& value) {
    int64_t number = 0;
    if (!whole(text, 65535, number) || number == 0)
        return false;
    value = static_cast<uint16_t>(number);
    return true;
}

std::string entry_line(const RecordEntry& e) {
    std::string line =
        "router=" + escaped(e.router) + " protocol=" + escaped(e.protocol) +
        " port=" + std::to_string(e.external_port) + " inside=" + std::to_string(e.internal_port) +
        " transport=" + escaped(e.transport) + " client=" + escaped(e.internal_client) +
        " name=" + escaped(e.name) + " lease=" + std::to_string(e.lease) +
        " lease_end=" + std::to_string(e.lease_end) + " kept=" + (e.kept ? "1" : "0");
    for (const auto& [key, value] :
         {std::pair{"keeper", &e.keeper}, {"nonce", &e.nonce}, {"pinhole", &e.pinhole}})
        if (!value->empty())
            line += std::string(" ") + key + "=" + escaped(*value);
    return line;
}

// A later version's keys are passed over; the ones every entry needs must be there.
bool read_entry(const std::string& line, RecordEntry& e) {
    std::istringstream fields(line);
    bool has_router = false, has_port = false;
    for (std::string field; fields >> field;) {
        const std::size_t equals = field.find('=');
        std::string value;
        if (equals == std::string::npos || !unescaped(field.substr(equals + 1), value))
            return false;
        const std::string key = field.substr(0, equals);
        int64_t number = 0;
        bool ok = true;
        if (key == "router")
            e.router = value, has_router = !value.empty();
        else if (key == "protocol")
            e.protocol = value;
        else if (key == "port")
            ok = has_port = port(value, e.external_port);
        else if (key == "inside")
            ok = port(value, e.internal_port);
        else if (key == "transport")
            e.transport = value, ok = value == "TCP" || value == "UDP";
        else if (key == "client")
            e.internal_client = value;
        else if (key == "name")
            e.name = value;
        else if (key == "lease")
            ok = whole(value, INT64_MAX, e.lease);
        else if (key == "lease_end")
            ok = whole(value, INT64_MAX, e.lease_end);
        else if (key == "kept")
            e.kept = value == "1", ok = whole(value, 1, number);
        else if (key == "keeper")
            e.keeper = value;
        else if (key == "nonce")
            e.nonce = value;
        else if (key == "pinhole")
            e.pinhole = value;
        if (!ok)
            return false;
    }
    if (e.internal_port == 0)
        e.internal_port = e.external_port;
    return has_router && has_port && !e.transport.empty();
}

} // namespace

std::string record_text(const std::vector<RecordEntry>& entries) {
    std::string text = std::string(kComment) + "\n" + kHeader + "\n";
    for (const RecordEntry& entry : entries)
        text += entry_line(entry) + "\n";
    return text + "end " + std::to_string(entries.size()) + "\n";
}

bool read_record_text(const std::string& text, std::vector<RecordEntry>& entries) {
    entries.clear();
    std::istringstream lines(text);
    bool header = false, ended = false;
    for (std::string line; std::getline(lines, line);) {
        if (line.empty() || line[0] == '#')
            continue;
        if (ended)
            return false;
        if (!header) {
            if (line != kHeader)
                return false;
            header = true;
        } else if (line.rfind("end ", 0) == 0) {
            ended = line.substr(4) == std::to_string(entries.size());
            if (!ended)
                return false;
        } else {
            RecordEntry entry;
            if (!read_entry(line, entry))
                return false;
            entries.push_back(entry);
        }
    }
    // A file cut short lacks its end line, or the line feed that ends it.
    return ended && !text.empty() && text.back() == '\n';
}

} // namespace quaymap
