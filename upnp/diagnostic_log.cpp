#include "diagnostic_log.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace upnp_detail {

bool replace_file(const std::string& folder, const std::string& name, const std::string& content) {
    if (folder.empty())
        return false;
    const std::string target = folder + "/" + name;
    std::string pattern = folder + "/." + name + ".XXXXXX";
    std::vector<char> temp(pattern.begin(), pattern.end());
    temp.push_back('\0');
    const int fd = ::mkstemp(temp.data());
    if (fd < 0)
        return false;
    bool ok = true;
    std::size_t written = 0;
    while (ok && written < content.size()) {
        const ssize_t n = ::write(fd, content.data() + written, content.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            ok = false;
        else
            written += static_cast<std::size_t>(n);
    }
    // mkstemp makes the file private to its owner; the log is an ordinary document.
    ::fchmod(fd, 0644);
    if (::close(fd) != 0)
        ok = false;
    if (ok && std::rename(temp.data(), target.c_str()) != 0)
        ok = false;
    if (!ok)
        ::unlink(temp.data());
    return ok;
}

} // namespace upnp_detail
