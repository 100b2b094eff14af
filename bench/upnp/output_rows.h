// How many mappings a client showed, read from what it printed.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

// Rows of `upnpc -l`, such as " 3 UDP 25565->192.168.87.20:25565 'Minecraft Server' '' 0".
size_t upnpc_rows(const std::string& text);

// quaymap-cli list prints a heading, then one line per mapping.
size_t cli_rows(const std::string& text);

// The window prints one "the forwading name is ..." line per table row; counted as the text
// grows, so that a long table does not make the condition quadratic.
class RowCounter {
  public:
    explicit RowCounter(size_t expected) : expected_(expected) {}
    bool operator()(const std::string& out, const std::string&);
    std::shared_ptr<size_t> rows() const { return rows_; }

  private:
    size_t expected_;
    size_t scanned_ = 0;
    std::shared_ptr<size_t> rows_ = std::make_shared<size_t>(0);
};
