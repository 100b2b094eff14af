// Text from a router, or from any computer on the network, is data: it may hold any bytes, and
// none of them may steer a terminal, a log or a window.
#pragma once

#include <cstddef>
#include <string>

namespace quaymap {

// One character of UTF-8 text: its code point and its length in bytes. A sequence that is not
// valid UTF-8 reads as one U+FFFD spanning its valid beginning (one byte at least).
struct Utf8Char {
    char32_t code;
    std::size_t length;
};
Utf8Char utf8_at(const std::string& text, std::size_t at);
void append_utf8(std::string& text, char32_t code);

// C0, DEL and C1.
bool is_control(char32_t code);

// The text as one line of valid UTF-8: line breaks and control characters become spaces,
// invalid bytes U+FFFD.
std::string one_line(const std::string& text);

} // namespace quaymap
