// quaymap-cli's own output on a terminal or in a file. Router text is data: no byte of it may act
// on the terminal that shows it.
#pragma once

#include <cstdio>
#include <string>

namespace quaymap_cli {

// Control characters (C0, DEL, C1) as "\x1b" escapes, invalid UTF-8 as U+FFFD; with
// `line_feeds`, a line feed stays one.
std::string terminal_text(const std::string& text, bool line_feeds = false);
// Appends terminal_text(text) to `out`; true when that is `text` itself, printable ASCII.
bool append_terminal_text(std::string& out, const std::string& text);

// terminal_text over a stream of chunks, line feeds kept and a carriage return before one
// dropped: a character or a line end split between two chunks is kept whole.
class TerminalFilter {
  public:
    std::string take(const std::string& chunk);
    // Whatever is still held, at the end of the stream.
    std::string finish();

  private:
    std::string held_;
};

// A stream that writes to `to` through a TerminalFilter: for the client's protocol trace, which
// holds the router's answers as they came.
std::FILE* escaping_stream(std::FILE* to);

// Data to standard output, at once.
void print(const std::string& text);
// One message line to standard error.
void complain(const std::string& text);

} // namespace quaymap_cli
