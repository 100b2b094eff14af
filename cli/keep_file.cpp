#include "keep_file.h"

#include "options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

namespace quaymap_cli {

bool split_words(const std::string& line, std::vector<std::string>& words) {
    words.clear();
    std::string word;
    bool in_word = false;
    char quote = 0;
    for (std::size_t at = 0; at < line.size(); ++at) {
        const char c = line[at];
        if (quote) {
            if (c == quote)
                quote = 0;
            else if (c == '\\' && quote == '"' && at + 1 < line.size() &&
                     (line[at + 1] == '"' || line[at + 1] == '\\'))
                word += line[++at];
            else
                word += c;
        } else if (c == ' ' || c == '\t' || c == '\r') {
            if (in_word)
                words.push_back(word);
            word.clear();
            in_word = false;
        } else if (c == '#' && !in_word) {
            break;
        } else {
            in_word = true;
            if (c == '\'' || c == '"')
                quote = c;
            else if (c == '\\' && at + 1 < line.size())
                word += line[++at];
            else
                word += c;
        }
    }
    if (in_word)
        words.push_back(word);
    return quote == 0;
}

bool read_keep_text(const std::string& text, const std::string& file,
                    std::vector<quaymap::Kept>& kept, std::string& error) {
    kept.clear();
    std::map<std::string, int> lines; // the line that keeps each port and protocol
    std::istringstream in(text);
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        const std::string where = file + ":" + std::to_string(++number) + ": ";
        std::vector<std::string> words;
        if (!split_words(line, words)) {
            error = where + "a quote is left open";
            return false;
        }
        if (words.empty())
            continue;
        words.insert(words.begin(), "add");
        Options options;
        if (!parse_options(words, options, error)) {
            error = where + error;
            return false;
        }
        if (options.json || options.verbose || options.keep || !options.router_url.empty() ||
            !options.router_address.empty() || options.command != Command::add) {
            error = where + "only --lease may follow a mapping";
            return false;
        }
        for (const std::string& protocol : options.protocols) {
            quaymap::Kept mapping;
            mapping.owned = true;
            mapping.request = {options.name, options.external_port, options.internal_port,
                               protocol,     options.address,       options.lease};
            mapping.request.keep = true;
            mapping.request.keep_file = file;
            const std::string key = quaymap::Keeper::key(mapping.request);
            if (lines.count(key)) {
                error = where + key + " is kept by line " + std::to_string(lines[key]) + " already";
                return false;
            }
            lines[key] = number;
            kept.push_back(mapping);
        }
    }
    return true;
}

std::string whole_path(const std::string& file) {
    char whole[PATH_MAX];
    return ::realpath(file.c_str(), whole) ? whole : file;
}

bool read_keep_file(const std::string& file, std::vector<quaymap::Kept>& kept, std::string& error) {
    std::ifstream in(file);
    if (!in) {
        error = "cannot read " + file + ": " + std::strerror(errno);
        return false;
    }
    std::stringstream text;
    text << in.rdbuf();
    return read_keep_text(text.str(), whole_path(file), kept, error);
}

} // namespace quaymap_cli
