// The keep file of quaymap-cli keep: one mapping a line, written as the arguments of
// quaymap-cli add (NAME PORT[:INTERNAL_PORT] tcp|udp|both [ADDRESS] [--lease SECONDS]), its
// words split as a shell splits them; a word that starts with '#' begins a comment.
#pragma once

#include "keeper.h"

#include <string>
#include <vector>

namespace quaymap_cli {

// Blanks between words, '...' and "..." quoting, a backslash taking the next character as it
// is. False for a quote left open.
bool split_words(const std::string& line, std::vector<std::string>& words);

// The mappings of the text (both: two of them), owned and kept by `file`; on false, `error`
// names the file and the line ("keep.conf:3: not a port (1-65535): 99999").
bool read_keep_text(const std::string& text, const std::string& file,
                    std::vector<quaymap::Kept>& kept, std::string& error);
// The same from the file, named by its whole path.
bool read_keep_file(const std::string& file, std::vector<quaymap::Kept>& kept, std::string& error);
// The whole path of a file, which names it in the record whatever folder the keep ran in; the
// name as given when it has none.
std::string whole_path(const std::string& file);

} // namespace quaymap_cli
