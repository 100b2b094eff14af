#include "router_text.h"

namespace quaymap {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

bool continuation(unsigned char byte, unsigned char low = 0x80, unsigned char high = 0xBF) {
    return byte >= low && byte <= high;
}

} // namespace

Utf8Char utf8_at(const std::string& text, std::size_t at) {
    const auto byte = [&](std::size_t i) {
        return at + i < text.size() ? static_cast<unsigned char>(text[at + i]) : 0;
    };
    const unsigned char lead = byte(0);
    if (lead < 0x80)
        return {lead, 1};
    std::size_t length = 0;
    char32_t code = 0;
    // The second byte's range also rules out overlong forms, surrogates and code points past
    // U+10FFFF.
    unsigned char low = 0x80, high = 0xBF;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80, high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80, high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return {kReplacement, 1};
    }
    for (std::size_t i = 1; i < length; ++i) {
        if (!continuation(byte(i), i == 1 ? low : 0x80, i == 1 ? high : 0xBF))
            return {kReplacement, i};
        code = code << 6 | (byte(i) & 0x3F);
    }
    return {code, length};
}

void append_utf8(std::string& text, char32_t code) {
    const auto put = [&](unsigned value) { text += static_cast<char>(value); };
    if (code < 0x80) {
        put(code);
    } else if (code < 0x800) {
        put(0xC0 | code >> 6), put(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        put(0xE0 | code >> 12), put(0x80 | (code >> 6 & 0x3F)), put(0x80 | (code & 0x3F));
    } else {
        put(0xF0 | code >> 18), put(0x80 | (code >> 12 & 0x3F));
        put(0x80 | (code >> 6 & 0x3F)), put(0x80 | (code & 0x3F));
    }
}

bool is_control(char32_t code) {
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}

std::string one_line(const std::string& text) {
    std::string line;
    line.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const Utf8Char c = utf8_at(text, at);
        // U+2028 and U+2029 break lines as a line feed does.
        if (is_control(c.code) || c.code == 0x2028 || c.code == 0x2029)
            line += ' ';
        else if (c.code == kReplacement)
            append_utf8(line, kReplacement);
        else
            line.append(text, at, c.length);
        at += c.length;
    }
    return line;
}

} // namespace quaymap
