#include "output_rows.h"

#include <algorithm>
#include <sstream>

size_t upnpc_rows(const std::string& text) {
    size_t rows = 0;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line))
        if (line.find("->") != std::string::npos &&
            (line.find(" TCP ") != std::string::npos || line.find(" UDP ") != std::string::npos))
            ++rows;
    return rows;
}

size_t cli_rows(const std::string& text) {
    const size_t lines = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
    return lines ? lines - 1 : 0;
}

bool RowCounter::operator()(const std::string& out, const std::string&) {
    static const std::string head = "the forwading name is ";
    for (size_t end; (end = out.find('\n', scanned_)) != std::string::npos; scanned_ = end + 1)
        if (out.compare(scanned_, head.size(), head) == 0)
            ++*rows_;
    return *rows_ >= expected_;
}
