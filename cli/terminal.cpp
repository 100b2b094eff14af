#include "terminal.h"

#include "router_text.h"

#include <algorithm>
#include <sys/types.h>

namespace quaymap_cli {

using quaymap::utf8_at;
using quaymap::Utf8Char;

namespace {

// Printable ASCII, nearly every router text, stands as it is.
bool printable_ascii(const std::string& text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

} // namespace

bool append_terminal_text(std::string& out, const std::string& text) {
    if (!printable_ascii(text)) {
        out += terminal_text(text);
        return false;
    }
    out += text;
    return true;
}

std::string terminal_text(const std::string& text, bool line_feeds) {
    if (printable_ascii(text))
        return text;
    std::string shown;
    for (std::size_t at = 0; at < text.size();) {
        const Utf8Char c = utf8_at(text, at);
        if (line_feeds && c.code == '\n') {
            shown += '\n';
        } else if (quaymap::is_control(c.code)) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02x", static_cast<unsigned>(c.code));
            shown += escape;
        } else if (c.code == 0xFFFD) {
            quaymap::append_utf8(shown, c.code);
        } else {
            shown.append(text, at, c.length);
        }
        at += c.length;
    }
    return shown;
}

std::string TerminalFilter::take(const std::string& chunk) {
    std::string text = held_ + chunk;
    held_.clear();
    // Held back: a carriage return that a line feed may follow, or the valid beginning of a
    // character that the next chunk completes.
    std::size_t keep = text.size();
    if (!text.empty() && text.back() == '\r') {
        keep = text.size() - 1;
    } else {
        for (std::size_t at = text.size() > 3 ? text.size() - 3 : 0; at < text.size(); ++at) {
            const auto lead = static_cast<unsigned char>(text[at]);
            const std::size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : 2;
            if (lead >= 0xC2 && lead <= 0xF4 && text.size() - at < length &&
                utf8_at(text, at).length == text.size() - at) {
                keep = at;
                break;
            }
        }
    }
    held_ = text.substr(keep);
    text.resize(keep);
    for (std::size_t at = text.find("\r\n"); at != std::string::npos; at = text.find("\r\n", at))
        text.erase(at, 1);
    return terminal_text(text, true);
}

std::string TerminalFilter::finish() {
    std::string rest;
    rest.swap(held_);
    return terminal_text(rest, true);
}

std::FILE* escaping_stream(std::FILE* to) {
    struct Sink {
        std::FILE* to;
        TerminalFilter filter;
        void put(const std::string& text) {
            std::fwrite(text.data(), 1, text.size(), to);
            std::fflush(to);
        }
    };
    cookie_io_functions_t io{};
    io.write = [](void* cookie, const char* data, std::size_t size) -> ssize_t {
        auto* sink = static_cast<Sink*>(cookie);
        sink->put(sink->filter.take(std::string(data, size)));
        return static_cast<ssize_t>(size);
    };
    io.close = [](void* cookie) {
        auto* sink = static_cast<Sink*>(cookie);
        sink->put(sink->filter.finish());
        delete sink;
        return 0;
    };
    return fopencookie(new Sink{to, {}}, "w", io);
}

void print(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

void complain(const std::string& text) {
    std::fprintf(stderr, "%s\n", terminal_text(text).c_str());
}

} // namespace quaymap_cli
