#include "service.h"

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace quaymap_cli {

ServiceNotice::ServiceNotice() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    if (socket && (*socket == '/' || *socket == '@'))
        socket_ = socket;
    const char* usec = std::getenv("WATCHDOG_USEC");
    const char* pid = std::getenv("WATCHDOG_PID");
    // A watchdog meant for another process of the service is not this one's.
    if (usec && (!pid || std::atol(pid) == ::getpid()))
        watchdog_ = std::chrono::milliseconds(std::atoll(usec) / 2000);
}

void ServiceNotice::send(const std::string& text) const {
    sockaddr_un to{};
    if (socket_.empty() || socket_.size() >= sizeof to.sun_path)
        return;
    to.sun_family = AF_UNIX;
    std::memcpy(to.sun_path, socket_.data(), socket_.size());
    if (to.sun_path[0] == '@')
        to.sun_path[0] = '\0'; // an abstract socket
    const int fd = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return;
    ::sendto(fd, text.data(), text.size(), MSG_NOSIGNAL, reinterpret_cast<const sockaddr*>(&to),
             static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + socket_.size()));
    ::close(fd);
}

void ServiceNotice::ready(const std::string& status) {
    status_ = status;
    send("READY=1\nSTATUS=" + status);
}

void ServiceNotice::status(const std::string& status) {
    if (status == status_)
        return;
    status_ = status;
    send("STATUS=" + status);
}

void ServiceNotice::stopping() {
    send("STOPPING=1\nSTATUS=deleting the mappings kept");
}

void ServiceNotice::watchdog() {
    send("WATCHDOG=1");
}

} // namespace quaymap_cli
