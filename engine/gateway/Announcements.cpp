#include "Announcements.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quaymap {

Announcements::Announcements(std::string group, uint16_t port, std::string interface)
    : group_(std::move(group)), interface_(std::move(interface)), port_(port) {}

Announcements::~Announcements() {
    if (fd_ >= 0)
        ::close(fd_);
}

int Announcements::fd(std::string& why) {
    if (tried_)
        return fd_;
    tried_ = true;
    in_addr group{}, local{};
    if (::inet_pton(AF_INET, group_.c_str(), &group) != 1) {
        why = "no IPv4 group " + group_;
        return -1;
    }
    const bool loopback =
        ::inet_pton(AF_INET, interface_.c_str(), &local) != 1 || (ntohl(local.s_addr) >> 24) == 127;
    const bool join = IN_MULTICAST(ntohl(group.s_addr)) && !loopback;
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    const int on = 1;
    sockaddr_in at{};
    at.sin_family = AF_INET;
    at.sin_port = htons(port_);
    at.sin_addr.s_addr = join ? htonl(INADDR_ANY) : group.s_addr;
    // Other programs on this computer may listen to the same group and port.
    ip_mreq membership{group, local};
    if (fd < 0 || ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0 ||
        ::bind(fd, reinterpret_cast<const sockaddr*>(&at), sizeof at) != 0 ||
        (join &&
         ::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &membership, sizeof membership) != 0)) {
        why = group_ + ":" + std::to_string(port_) + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    fd_ = fd;
    return fd_;
}

std::vector<std::string> Announcements::take(const std::string& sender) {
    std::vector<std::string> datagrams;
    char buffer[2048];
    for (int n = 0; fd_ >= 0 && n < 64; ++n) {
        sockaddr_in from{};
        socklen_t size = sizeof from;
        const ssize_t got = ::recvfrom(fd_, buffer, sizeof buffer, MSG_DONTWAIT,
                                       reinterpret_cast<sockaddr*>(&from), &size);
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            break;
        char address[INET_ADDRSTRLEN] = {};
        ::inet_ntop(AF_INET, &from.sin_addr, address, sizeof address);
        // Anyone on the network may send here: only the router's own word counts.
        if (sender == address)
            datagrams.emplace_back(buffer, static_cast<std::size_t>(got));
    }
    return datagrams;
}

} // namespace quaymap
