#include "lan_address.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace quaymap {

std::string local_address_towards(const std::string& host) {
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(9);
    if (inet_pton(AF_INET, host.c_str(), &destination.sin_addr) != 1)
        return {};
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return {};
    std::string result;
    sockaddr_in local{};
    socklen_t length = sizeof local;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&destination), sizeof destination) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0) {
        char text[INET_ADDRSTRLEN] = {};
        if (inet_ntop(AF_INET, &local.sin_addr, text, sizeof text))
            result = text;
    }
    ::close(fd);
    return result;
}

} // namespace quaymap
