// The record of what QuayMap opened: one small file of the user's ($XDG_STATE_HOME/quaymap/
// mappings, or a service's StateDirectory), written by the window and by keepers alike.
//
// The file is only ever replaced whole (a temporary file in the same folder, synced, renamed,
// the folder synced), so a process killed at any point leaves the old record or the new one.
// A read-modify-write holds an flock'ed lock file, so two writers never lose each other's
// change. A file that cannot be read is moved aside, never deleted, and the record starts empty.
#pragma once

#include "RecordEntry.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quaymap {

// The file's text: a header line, one line of key=value fields per entry, an end line with the
// count. Values are percent-escaped, so a name holds any byte.
std::string record_text(const std::vector<RecordEntry>& entries);
// False when the text is not a whole record (damaged, cut short, or another kind of file).
bool read_record_text(const std::string& text, std::vector<RecordEntry>& entries);

// Where the record lives: a service's state directory (the first of $STATE_DIRECTORY), else
// $XDG_STATE_HOME/quaymap, else ~/.local/state/quaymap; empty when none is known.
std::string record_folder(const char* state_directory, const char* xdg_state_home,
                          const char* home);
std::string default_record_folder();

class Record {
  public:
    using Notice = std::function<void(const std::string&)>;
    // `folder` empty: no record; reads give nothing and changes do nothing. `notice` hears what
    // the user must know (a damaged file kept aside, a write that failed); `now` gives the time
    // in seconds since 1970.
    explicit Record(std::string folder, Notice notice = {}, std::function<int64_t()> now = {});

    bool enabled() const { return !folder_.empty(); }
    std::string path() const;
    // The record's clock: seconds since 1970.
    int64_t now() const { return now_(); }
    // Every entry, but those whose lease has ended and that nobody keeps open.
    std::vector<RecordEntry> entries() const;
    // Reads, edits and writes the record whole under the lock. False when it could not be
    // written (the notice says why).
    bool change(const std::function<void(std::vector<RecordEntry>&)>& edit) const;

  private:
    // False when the file is there but cannot be read now: it must not be written over. A
    // damaged one is moved aside, which leaves an empty record to go on with.
    bool load(std::vector<RecordEntry>& entries) const;
    bool store(const std::vector<RecordEntry>& entries) const;
    void prune(std::vector<RecordEntry>& entries) const;
    void tell(const std::string& text) const;

    const std::string folder_;
    const Notice notice_;
    const std::function<int64_t()> now_;
};

} // namespace quaymap
