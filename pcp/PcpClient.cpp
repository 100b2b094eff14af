#include "PcpClient.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

using namespace pcp_wire;
using Clock = std::chrono::steady_clock;

namespace {

// Bounds one drain, so that a flood on the socket cannot hold a request back for ever.
constexpr int kMaxSkipped = 256;

bool numeric(const std::string& host, uint16_t port, sockaddr_storage& address, socklen_t& size) {
    addrinfo hints{};
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (::getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &found) != 0)
        return false;
    std::memcpy(&address, found->ai_addr, size = found->ai_addrlen);
    ::freeaddrinfo(found);
    return true;
}

Address address_in(const sockaddr_storage& address) {
    Address out{};
    if (address.ss_family == AF_INET) {
        out[10] = out[11] = 0xff;
        std::memcpy(out.data() + 12, &reinterpret_cast<const sockaddr_in&>(address).sin_addr, 4);
    } else {
        std::memcpy(out.data(), &reinterpret_cast<const sockaddr_in6&>(address).sin6_addr, 16);
    }
    return out;
}

// The sender's address and port against the gateway's (a link-local scope aside).
bool same_peer(const sockaddr_storage& from, const unsigned char* peer) {
    const auto& to = *reinterpret_cast<const sockaddr_storage*>(peer);
    if (from.ss_family != to.ss_family)
        return false;
    if (from.ss_family == AF_INET) {
        const auto &a = reinterpret_cast<const sockaddr_in&>(from),
                   &b = reinterpret_cast<const sockaddr_in&>(to);
        return a.sin_port == b.sin_port && a.sin_addr.s_addr == b.sin_addr.s_addr;
    }
    const auto &a = reinterpret_cast<const sockaddr_in6&>(from),
               &b = reinterpret_cast<const sockaddr_in6&>(to);
    return a.sin6_port == b.sin6_port && std::memcmp(&a.sin6_addr, &b.sin6_addr, 16) == 0;
}

int ms_until(Clock::time_point moment) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(moment - Clock::now()).count();
    return left <= 0 ? 0 : left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

} // namespace

PcpClient::PcpClient(PcpTimings timings) : timings_(timings), draw_(std::random_device{}()) {
    if (::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0)
        wake_[0] = wake_[1] = -1;
}

PcpClient::~PcpClient() {
    close();
    for (int fd : wake_)
        if (fd >= 0)
            ::close(fd);
}

int PcpClient::open(const std::string& gateway, const std::string& source, uint16_t port) {
    close();
    sockaddr_storage to{}, from{};
    socklen_t to_size = 0, from_size = 0;
    if (!numeric(gateway, port, to, to_size) ||
        (!source.empty() &&
         (!numeric(source, 0, from, from_size) || from.ss_family != to.ss_family)))
        return INVALID_ARGUMENTS;
    socket_ = ::socket(to.ss_family, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    // Connected, the socket hears only the gateway, and its refusal of the port as an error.
    sockaddr_storage local{};
    socklen_t local_size = sizeof local;
    if (socket_ < 0 ||
        (!source.empty() && ::bind(socket_, reinterpret_cast<sockaddr*>(&from), from_size) != 0) ||
        ::connect(socket_, reinterpret_cast<sockaddr*>(&to), to_size) != 0 ||
        ::getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &local_size) != 0) {
        close();
        return SOCKET_ERROR;
    }
    std::memcpy(peer_, &to, peer_size_ = to_size);
    local_ = address_in(local);
    gateway_ = gateway;
    epoch_ = Epoch{};
    return SUCCESS;
}

void PcpClient::close() {
    if (socket_ >= 0)
        ::close(socket_);
    socket_ = -1;
    gateway_.clear();
}

std::string PcpClient::local_address() const {
    return is_open() ? address_text(local_) : "";
}

void PcpClient::cancel() {
    cancelled_ = true;
    const char byte = 1;
    if (wake_[1] >= 0 && ::write(wake_[1], &byte, 1) < 0) {
        // A full pipe already wakes the wait.
    }
}

void PcpClient::resume() {
    char bytes[64];
    while (wake_[0] >= 0 && ::read(wake_[0], bytes, sizeof bytes) > 0) {
    }
    cancelled_ = false;
}

bool PcpClient::note_epoch(uint32_t epoch) {
    if (epoch_.observe(epoch, Clock::now()))
        return true;
    ++restarts_;
    return false;
}

int PcpClient::announce() {
    Answer answer;
    return is_open() ? exchange(announce_request(local_), Expected{}, answer) : INVALID_ARGUMENTS;
}

int PcpClient::map(const MapRequest& request, PcpMapping& granted) {
    const std::string bytes = is_open() ? map_request(local_, request) : "";
    Expected expected{MAP, request.nonce, request.protocol, request.internal_port};
    expected.third_party = !request.third_party.empty();
    if (bytes.empty() ||
        (expected.third_party && !address_of(request.third_party, expected.third_party_address)))
        return INVALID_ARGUMENTS;
    Answer answer;
    const int result = exchange(bytes, expected, answer);
    if (result == SUCCESS)
        granted = {request.protocol, request.internal_port, answer.external_port,
                   address_text(answer.external_address), answer.lifetime};
    return result;
}

int PcpClient::exchange(const std::string& request, const Expected& expected, Answer& answer) {
    // An ANNOUNCE carries no nonce: a late answer to an earlier one would pass for this one's.
    drain();
    const int cap = std::max(1, timings_.max_transmissions);
    std::uniform_real_distribution<double> jitter(0.9, 1.1);
    double wait_ms = 0;
    Clock::time_point due = Clock::now();
    for (int sent = 0;;) {
        if (cancelled_)
            return NO_ANSWER;
        if (Clock::now() >= due) {
            if (sent == cap)
                return NO_ANSWER;
            if (const int failed = transmit(request, ++sent))
                return failed;
            wait_ms =
                jitter(draw_) * (sent == 1 ? std::max(1, timings_.first_retry_ms)
                                           : std::min<double>(2 * wait_ms, timings_.max_retry_ms));
            due = Clock::now() + std::chrono::microseconds(static_cast<long long>(wait_ms * 1000));
        }
        pollfd ready[2] = {{socket_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int polled = ::poll(ready, wake_[0] >= 0 ? 2 : 1, ms_until(due));
        if (polled < 0 && errno != EINTR)
            return SOCKET_ERROR;
        if (polled > 0 && ready[0].revents != 0) {
            const int result = take_answer(expected, answer);
            if (result != NO_ANSWER)
                return result;
        }
    }
}

int PcpClient::transmit(const std::string& request, int number) {
    if (log_request) {
        std::string text = "PCP request " + std::to_string(number) + ":";
        char byte[4];
        for (const char c : request) {
            std::snprintf(byte, sizeof byte, " %02x", static_cast<unsigned char>(c));
            text += byte;
        }
        log_request(text);
    }
    const ssize_t sent = ::send(socket_, request.data(), request.size(), MSG_NOSIGNAL);
    if (sent < 0 && errno == ECONNREFUSED)
        return PORT_UNREACHABLE;
    return sent == static_cast<ssize_t>(request.size()) ? SUCCESS : SEND_FAILED;
}

int PcpClient::take_answer(const Expected& expected, Answer& answer) {
    unsigned char bytes[kMaxMessage + 1];
    for (int skipped = 0; skipped < kMaxSkipped; ++skipped) {
        sockaddr_storage from{};
        socklen_t size = sizeof from;
        const ssize_t n = ::recvfrom(socket_, bytes, sizeof bytes, MSG_DONTWAIT | MSG_TRUNC,
                                     reinterpret_cast<sockaddr*>(&from), &size);
        if (n < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK)
                return NO_ANSWER;
            // An ICMP refusal of the port: nothing listens for PCP there. Other errors (a host
            // unreachable for a moment) only cost this datagram.
            if (errno == ECONNREFUSED)
                return PORT_UNREACHABLE;
            continue;
        }
        if (!same_peer(from, peer_) || static_cast<std::size_t>(n) > kMaxMessage)
            continue;
        switch (read_answer(bytes, static_cast<std::size_t>(n), expected, answer)) {
        case Verdict::taken:
            answered_version_ = answer.version;
            note_epoch(answer.epoch);
            return answer.result;
        case Verdict::unsupported_version:
            answered_version_ = answer.version;
            return UNSUPP_VERSION;
        case Verdict::dropped:
            break;
        }
    }
    return NO_ANSWER;
}

void PcpClient::drain() {
    unsigned char skipped[16];
    for (int n = 0; n < kMaxSkipped; ++n)
        if (::recv(socket_, skipped, sizeof skipped, MSG_DONTWAIT) < 0 &&
            (errno == EAGAIN || errno == EWOULDBLOCK))
            return;
}
