#include "record.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace quaymap {

namespace {

const char* const kFile = "mappings";
const char* const kLock = "mappings.lock";
const char* const kTemporary = "mappings.tmp-";

// The lock file held for one read-modify-write; each holder opens it anew, so two threads of one
// process exclude each other as two processes do.
class Lock {
  public:
    explicit Lock(const std::string& folder)
        : fd_(::open((folder + "/" + kLock).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600)) {
        while (fd_ >= 0 && ::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~Lock() {
        if (fd_ >= 0)
            ::close(fd_); // lets the lock go
    }
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;
    bool held() const { return fd_ >= 0; }

  private:
    const int fd_;
};

bool make_folder(const std::string& folder) {
    for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            return true;
    }
}

bool write_all(int fd, const std::string& text) {
    for (std::size_t at = 0; at < text.size();) {
        const ssize_t n = ::write(fd, text.data() + at, text.size() - at);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        at += static_cast<std::size_t>(n);
    }
    return true;
}

// A temporary file left by a writer that was killed: nobody else writes while the lock is held.
void remove_leftovers(const std::string& folder) {
    DIR* dir = ::opendir(folder.c_str());
    if (!dir)
        return;
    while (const dirent* entry = ::readdir(dir))
        if (std::strncmp(entry->d_name, kTemporary, std::strlen(kTemporary)) == 0)
            ::unlink((folder + "/" + entry->d_name).c_str());
    ::closedir(dir);
}

} // namespace

std::string record_folder(const char* state_directory, const char* xdg_state_home,
                          const char* home) {
    if (state_directory && *state_directory)
        return std::string(state_directory).substr(0, std::string(state_directory).find(':'));
    // A relative XDG_STATE_HOME is to be ignored, as the base directory rules say.
    if (xdg_state_home && *xdg_state_home == '/')
        return std::string(xdg_state_home) + "/quaymap";
    if (home && *home == '/')
        return std::string(home) + "/.local/state/quaymap";
    return std::string();
}

std::string default_record_folder() {
    return record_folder(std::getenv("STATE_DIRECTORY"), std::getenv("XDG_STATE_HOME"),
                         std::getenv("HOME"));
}

Record::Record(std::string folder, Notice notice, std::function<int64_t()> now)
    : folder_(std::move(folder)), notice_(std::move(notice)),
      now_(now ? std::move(now) : [] { return static_cast<int64_t>(std::time(nullptr)); }) {}

std::string Record::path() const {
    return folder_ + "/" + kFile;
}

void Record::tell(const std::string& text) const {
    if (notice_)
        notice_(text);
}

void Record::prune(std::vector<RecordEntry>& entries) const {
    const int64_t now = now_();
    entries.erase(std::remove_if(entries.begin(), entries.end(),
                                 [now](const RecordEntry& e) {
                                     return !e.kept && e.lease_end > 0 && e.lease_end <= now;
                                 }),
                  entries.end());
}

std::vector<RecordEntry> Record::entries() const {
    std::vector<RecordEntry> entries;
    if (!enabled() || !make_folder(folder_))
        return entries;
    const Lock lock(folder_);
    if (lock.held())
        load(entries);
    prune(entries);
    return entries;
}

bool Record::change(const std::function<void(std::vector<RecordEntry>&)>& edit) const {
    if (!enabled())
        return true;
    if (!make_folder(folder_)) {
        tell("QuayMap cannot make the folder of its record (" + folder_ +
             "): " + std::strerror(errno) + ".");
        return false;
    }
    const Lock lock(folder_);
    if (!lock.held()) {
        tell("QuayMap cannot lock its record (" + path() + "): " + std::strerror(errno) + ".");
        return false;
    }
    std::vector<RecordEntry> entries;
    if (!load(entries))
        return false;
    prune(entries);
    edit(entries);
    return store(entries);
}

bool Record::load(std::vector<RecordEntry>& entries) const {
    entries.clear();
    const int fd = ::open(path().c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0 && errno == ENOENT)
        return true;
    std::string text;
    char buffer[4096];
    ssize_t n = fd < 0 ? -1 : 0;
    while (fd >= 0 && ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)))
        text.append(buffer, static_cast<std::size_t>(std::max<ssize_t>(n, 0)));
    const int error = errno;
    if (fd >= 0)
        ::close(fd);
    // A file that cannot be opened or read now may be read later: it is not written over.
    if (n < 0) {
        tell("QuayMap cannot read its record (" + path() + "): " + std::strerror(error) + ".");
        return false;
    }
    if (read_record_text(text, entries))
        return true;
    entries.clear();
    // Kept for whoever wants to look, and never in the way of a fresh start.
    const std::string aside = path() + ".damaged-" + std::to_string(now_());
    if (::rename(path().c_str(), aside.c_str()) != 0) {
        tell("QuayMap's record (" + path() +
             ") cannot be read and cannot be moved aside: " + std::strerror(errno) + ".");
        return false;
    }
    tell("QuayMap's record (" + path() + ") could not be read; it is kept as " + aside +
         " and QuayMap starts with an empty record.");
    return true;
}

bool Record::store(const std::vector<RecordEntry>& entries) const {
    remove_leftovers(folder_);
    std::string temporary = folder_ + "/" + kTemporary + "XXXXXX";
    const int fd = ::mkostemp(&temporary[0], O_CLOEXEC);
    bool written = fd >= 0 && write_all(fd, record_text(entries)) && ::fsync(fd) == 0;
    const int error = errno;
    if (fd >= 0 && ::close(fd) != 0)
        written = false;
    // The new name is in place once the rename is; the folder's sync makes it last.
    if (written && ::rename(temporary.c_str(), path().c_str()) == 0) {
        const int dir = ::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dir >= 0) {
            ::fsync(dir);
            ::close(dir);
        }
        return true;
    }
    const int why = written ? errno : error;
    if (fd >= 0)
        ::unlink(temporary.c_str());
    tell("QuayMap could not write its record (" + path() + "): " + std::strerror(why) + ".");
    return false;
}

} // namespace quaymap
