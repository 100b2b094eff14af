#include "UpnpNat.h"
#include "socket_util.h"
#include "wire_text.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <vector>

using namespace upnp_detail;

namespace {

constexpr std::size_t kChunkSize = 102400;

// One bounded connection attempt: a socket whose connect has not finished within the limit
// is given up, so an unreachable gateway costs at most `timeout_ms` per attempt.
int connect_once(const sockaddr_in& destination, int timeout_ms, bool& refused) {
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0)
        return -1;
    set_nonblocking(fd, true);
    int r = ::connect(fd, reinterpret_cast<const sockaddr*>(&destination), sizeof destination);
    int error = r == 0 ? 0 : errno;
    if (r != 0 && error == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        do {
            r = ::poll(&p, 1, timeout_ms);
        } while (r < 0 && errno == EINTR);
        socklen_t length = sizeof error;
        if (r != 1 || ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0)
            error = ETIMEDOUT;
        r = error == 0 ? 0 : -1;
    }
    refused = error == ECONNREFUSED;
    if (r != 0) {
        ::close(fd);
        return -1;
    }
    set_nonblocking(fd, false);
    return fd;
}

} // namespace

bool UpnpNat::tcp_connect(const std::string& host, uint16_t port) {
    return connect_within(host, port, timings.connect_budget_ms);
}

bool UpnpNat::connect_within(const std::string& host, uint16_t port, int budget_ms) {
    // A socket that no exchange closed (a rejected description, a failed walk) is not read
    // again; dropping it here keeps descriptors from piling up over many searches.
    close_tcp();
    sockaddr_in destination{};
    destination.sin_family = AF_INET;
    destination.sin_port = htons(port);
    using clock = std::chrono::steady_clock;
    const auto deadline = clock::now() + std::chrono::milliseconds(budget_ms);
    const auto left = [&deadline] {
        return static_cast<int>(
            std::chrono::ceil<std::chrono::milliseconds>(deadline - clock::now()).count());
    };
    // Only a dotted-decimal address is taken; a name is never looked up, so it fails at once.
    if (::inet_pton(AF_INET, host.c_str(), &destination.sin_addr) == 1) {
        for (int attempt = 1; attempt <= connect_tries; ++attempt) {
            if (attempt >= 2)
                pause_ms(std::min(timings.connect_pause_ms, left()));
            if (left() <= 0)
                break;
            bool refused = false;
            const int fd =
                connect_once(destination, std::min(timings.connect_timeout_ms, left()), refused);
            if (fd >= 0) {
                tcp_socket = fd;
                return succeed(STATUS_CONNECTED);
            }
            // Nothing listens there: asking again cannot change that within a search.
            if (refused)
                break;
        }
    }
    // Built whole rather than in a fixed buffer: the host comes from the router and may be long.
    return fail("Fail to connect to " + host + ":" + std::to_string(port) + " (using TCP)\n",
                Failure::unreachable);
}

std::string UpnpNat::receive_until(const std::string& marker, int max_tries) {
    return receive_answer(marker, max_tries, Echo::none);
}

// Each attempt waits up to `read_wait_ms` for data and takes whatever has arrived, so a prompt
// router is heard at once while a silent one still gets `max_tries` waits. The loop ends at
// the marker (found in everything collected, across chunk boundaries), at the peer's close,
// after `max_tries` waits that brought nothing, or when the time of `max_tries` waits (or
// `limit_ms`, when that is shorter) is spent: a router trickling its answer cannot stretch the
// exchange beyond that.
std::string UpnpNat::receive_answer(const std::string& marker, int max_tries, Echo echo,
                                    int limit_ms) {
    std::string response;
    if (tcp_socket < 0 || max_tries <= 0)
        return response;
    set_nonblocking(tcp_socket, true);
    std::vector<char> buffer(kChunkSize);
    std::size_t received = 0;
    bool too_large = false;

    using clock = std::chrono::steady_clock;
    long long limit = static_cast<long long>(timings.read_wait_ms) * max_tries;
    if (limit_ms >= 0 && limit_ms < limit)
        limit = limit_ms;
    const auto deadline = clock::now() + std::chrono::milliseconds(limit);
    int empty_waits = 0;
    while (empty_waits < max_tries) {
        const auto now = clock::now();
        if (now >= deadline)
            break;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now).count();
        const int wait =
            static_cast<int>(left < timings.read_wait_ms ? left : timings.read_wait_ms);
        if (!wait_readable(tcp_socket, wait)) {
            // An attempt that brought nothing.
            ++empty_waits;
            if (echo == Echo::chunks)
                say("the buff is %s\n", "");
            else if (echo == Echo::marks)
                say("cccccccccccccccccccc\n");
            continue;
        }
        const ssize_t n = ::recv(tcp_socket, buffer.data(), kChunkSize, 0);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        if (n <= 0)
            break; // the peer has closed the connection, or it broke
        received += static_cast<std::size_t>(n);
        if (received > kAnswerCap) {
            too_large = true;
            break;
        }
        std::string chunk;
        upnp_wire::append_received(chunk, buffer.data(), static_cast<std::size_t>(n));
        const std::size_t search_from =
            response.size() >= marker.size() ? response.size() - marker.size() + 1 : 0;
        response += chunk;
        if (echo == Echo::chunks)
            say("the buff is %s\n", chunk.c_str());
        const bool done =
            !marker.empty() && response.find(marker, search_from) != std::string::npos;
        if (!done && echo == Echo::marks)
            say("cccccccccccccccccccc\n");
        if (done)
            break;
    }
    if (too_large)
        response.clear();
    return response;
}
