#include "PcpListener.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace pcp_wire;

namespace {

// Bounds one take(), so that a flood on the port cannot hold its caller for ever.
constexpr int kMaxSkipped = 256;

int listening_socket(int family, uint16_t port) {
    const int fd = ::socket(family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    const int on = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in v4{};
    sockaddr_in6 v6{};
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(port);
    if (family == AF_INET6)
        ::setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &on, sizeof on);
    // Bound to any address, the socket hears 224.0.0.1 and ff02::1 without joining them: every
    // interface is a member of both groups from the start, and the kernel hands a multicast to
    // each socket bound to its port.
    const bool bound = family == AF_INET
                           ? ::bind(fd, reinterpret_cast<sockaddr*>(&v4), sizeof v4) == 0
                           : ::bind(fd, reinterpret_cast<sockaddr*>(&v6), sizeof v6) == 0;
    if (!bound) {
        ::close(fd);
        return -1;
    }
    return fd;
}

} // namespace

bool PcpListener::open(uint16_t port) {
    close();
    sockets_[0] = listening_socket(AF_INET, port);
    sockets_[1] = listening_socket(AF_INET6, port);
    return sockets_[0] >= 0 || sockets_[1] >= 0;
}

void PcpListener::close() {
    for (int& fd : sockets_) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}

std::vector<int> PcpListener::fds() const {
    std::vector<int> open;
    for (const int fd : sockets_)
        if (fd >= 0)
            open.push_back(fd);
    return open;
}

void PcpListener::expect(std::vector<std::string> gateways, uint16_t port) {
    gateways_.clear();
    for (const std::string& text : gateways) {
        Address address{};
        if (address_of(text.substr(0, text.find('%')), address))
            gateways_.push_back(address);
    }
    gateway_port_ = port;
}

bool PcpListener::take(PcpAnnouncement& announcement) {
    unsigned char bytes[kMaxMessage + 1];
    for (int skipped = 0; skipped < kMaxSkipped;) {
        bool any = false;
        for (const int fd : sockets_) {
            sockaddr_storage from{};
            socklen_t size = sizeof from;
            const ssize_t n = fd < 0 ? -1
                                     : ::recvfrom(fd, bytes, sizeof bytes, MSG_DONTWAIT | MSG_TRUNC,
                                                  reinterpret_cast<sockaddr*>(&from), &size);
            if (n < 0)
                continue;
            any = true;
            ++skipped;
            Address sender{};
            uint16_t port = 0;
            if (from.ss_family == AF_INET) {
                const auto& v4 = reinterpret_cast<const sockaddr_in&>(from);
                sender[10] = sender[11] = 0xff;
                std::memcpy(sender.data() + 12, &v4.sin_addr, 4);
                port = ntohs(v4.sin_port);
            } else {
                const auto& v6 = reinterpret_cast<const sockaddr_in6&>(from);
                std::memcpy(sender.data(), &v6.sin6_addr, 16);
                port = ntohs(v6.sin6_port);
            }
            uint32_t epoch = 0;
            if (port != gateway_port_ || static_cast<std::size_t>(n) > kMaxMessage ||
                (!gateways_.empty() &&
                 std::find(gateways_.begin(), gateways_.end(), sender) == gateways_.end()) ||
                !read_announcement(bytes, static_cast<std::size_t>(n), epoch))
                continue;
            announcement = {address_text(sender), epoch};
            return true;
        }
        if (!any)
            return false;
    }
    return false;
}
