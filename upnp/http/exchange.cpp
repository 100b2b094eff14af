#include "exchange.h"

#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace upnp_http {

namespace {

constexpr std::size_t kChunkSize = 102400;

Clock::time_point after(Clock::time_point from, int ms) {
    return from + std::chrono::milliseconds(ms < 0 ? 0 : ms);
}

Clock::time_point earliest(Clock::time_point a, Clock::time_point b) {
    return a < b ? a : b;
}

// Rounded up, so that the last fraction of a millisecond is waited, not spun through.
int ms_until(Clock::time_point moment) {
    if (moment == Clock::time_point::max())
        return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(moment - Clock::now()).count();
    return left <= 0 ? 0 : left > INT_MAX ? INT_MAX : static_cast<int>(left);
}

// A source address of the connection's own family; false for any other text, or one that this
// computer does not have.
bool bind_to(int fd, int family, const std::string& source) {
    sockaddr_in v4{};
    sockaddr_in6 v6{};
    v4.sin_family = AF_INET;
    v6.sin6_family = AF_INET6;
    if (family == AF_INET)
        return ::inet_pton(AF_INET, source.c_str(), &v4.sin_addr) == 1 &&
               ::bind(fd, reinterpret_cast<const sockaddr*>(&v4), sizeof v4) == 0;
    return ::inet_pton(AF_INET6, source.c_str(), &v6.sin6_addr) == 1 &&
           ::bind(fd, reinterpret_cast<const sockaddr*>(&v6), sizeof v6) == 0;
}

} // namespace

Exchange::Exchange(const std::string& host, uint16_t port, std::string request,
                   const Limits& limits, std::string marker)
    : limits_(limits), request_(std::move(request)), marker_(std::move(marker)),
      reader_(limits.body_cap) {
    now_ = Clock::now();
    connect_end_ = earliest(after(now_, limits.connect_budget_ms), limits.deadline);
    sockaddr_in v4{};
    sockaddr_in6 v6{};
    if (::inet_pton(AF_INET, host.c_str(), &v4.sin_addr) == 1) {
        v4.sin_family = AF_INET;
        v4.sin_port = htons(port);
        std::memcpy(address_, &v4, address_size_ = sizeof v4);
    } else if (::inet_pton(AF_INET6, host.c_str(), &v6.sin6_addr) == 1) {
        v6.sin6_family = AF_INET6;
        v6.sin6_port = htons(port);
        std::memcpy(address_, &v6, address_size_ = sizeof v6);
    } else {
        return; // a name is never looked up: no attempt at all
    }
    family_ = reinterpret_cast<const sockaddr*>(address_)->sa_family;
    if (limits.connect_tries > 0)
        attempt();
}

Exchange::Exchange(int fd, const Limits& limits, std::string marker)
    : limits_(limits), marker_(std::move(marker)), fd_(fd), owned_(false), connected_(true),
      reader_(limits.body_cap) {
    now_ = Clock::now();
    start_receiving();
}

Exchange::~Exchange() {
    close_socket();
}

void Exchange::close_socket() {
    if (fd_ >= 0 && owned_)
        ::close(fd_);
    fd_ = -1;
}

int Exchange::release() {
    const int fd = fd_;
    owned_ = false;
    fd_ = -1;
    return fd;
}

short Exchange::events() const {
    switch (stage_) {
    case Stage::connecting:
    case Stage::sending:
        return POLLOUT;
    case Stage::receiving:
        return POLLIN;
    default:
        return 0;
    }
}

void Exchange::attempt() {
    ++attempts_;
    if (now_ >= connect_end_)
        return finish();
    fd_ = ::socket(family_, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd_ < 0)
        return attempt_failed(errno);
    if (!limits_.source.empty() && !bind_to(fd_, family_, limits_.source)) {
        close_socket();
        return finish(); // asking again cannot lend this computer the address
    }
    if (::connect(fd_, reinterpret_cast<const sockaddr*>(address_), address_size_) == 0)
        return start_sending();
    if (errno != EINPROGRESS)
        return attempt_failed(errno);
    // A near router (this host, a fast link) has often completed the handshake before connect
    // returns: the request then goes at once, without first waiting to hear the socket is
    // writable. A handshake still under way leaves the socket unwritable, and the wait below.
    if (!request_.empty()) {
        const ssize_t n = ::send(fd_, request_.data(), request_.size(), MSG_NOSIGNAL);
        if (n > 0) {
            sent_ = static_cast<std::size_t>(n);
            return start_sending();
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return attempt_failed(errno);
    }
    stage_ = Stage::connecting;
    wake_at_ = earliest(after(now_, limits_.connect_timeout_ms), connect_end_);
}

void Exchange::attempt_failed(int error) {
    close_socket();
    // Nothing listens there: asking again cannot change that within one exchange.
    refused_ = error == ECONNREFUSED;
    const Clock::time_point resume = after(Clock::now(), limits_.connect_pause_ms);
    if (refused_ || attempts_ >= limits_.connect_tries || resume >= connect_end_)
        return finish();
    stage_ = Stage::pausing;
    wake_at_ = resume;
}

void Exchange::start_sending() {
    connected_ = true;
    if (request_.empty()) {
        stage_ = Stage::done; // only the connection was asked for: it stays open
        return;
    }
    stage_ = Stage::sending;
    wake_at_ = earliest(after(now_, limits_.read_wait_ms * limits_.max_tries), limits_.deadline);
    send_some();
}

void Exchange::send_some() {
    while (sent_ < request_.size()) {
        const ssize_t n =
            ::send(fd_, request_.data() + sent_, request_.size() - sent_, MSG_NOSIGNAL);
        if (n > 0) {
            sent_ += static_cast<std::size_t>(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            return; // the rest when the socket takes more
        } else {
            break; // a broken connection shows as a missing answer
        }
    }
    start_receiving();
}

void Exchange::start_receiving() {
    if (limits_.max_tries <= 0)
        return finish();
    stage_ = Stage::receiving;
    // Not cleared: every read says how much of it is filled.
    if (!buffer_)
        buffer_.reset(new char[kChunkSize]);
    receive_end_ =
        earliest(after(now_, limits_.read_wait_ms * limits_.max_tries), limits_.deadline);
    wake_at_ = earliest(after(now_, limits_.read_wait_ms), receive_end_);
}

void Exchange::step(short revents) {
    // One reading of the clock for the step: its checks and the limits it sets count from it.
    if (stage_ != Stage::receiving)
        now_ = Clock::now();
    switch (stage_) {
    case Stage::connecting:
        if (revents & (POLLERR | POLLHUP)) {
            int error = 0;
            socklen_t length = sizeof error;
            ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &error, &length);
            return attempt_failed(error != 0 ? error : ECONNRESET);
        }
        if (revents & POLLOUT)
            return start_sending();
        if (now_ >= wake_at_)
            attempt_failed(ETIMEDOUT);
        return;
    case Stage::pausing:
        if (now_ >= wake_at_)
            attempt();
        return;
    case Stage::sending:
        if (revents != 0)
            return send_some();
        if (now_ >= wake_at_)
            start_receiving();
        return;
    case Stage::receiving:
        return receive(revents);
    case Stage::done:
        return;
    }
}

void Exchange::receive(short revents) {
    if (revents & (POLLIN | POLLHUP | POLLERR)) {
        const ssize_t n = ::recv(fd_, buffer_.get(), kChunkSize, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
            reader_.close();
            return finish();
        }
        if (n > 0) {
            heard_ = true;
            if (on_read)
                on_read(buffer_.get(), static_cast<std::size_t>(n));
            const std::size_t before = reader_.body().size();
            const AnswerReader::State state =
                reader_.feed(buffer_.get(), static_cast<std::size_t>(n));
            if (state == AnswerReader::State::complete || state == AnswerReader::State::bad)
                return finish();
            // Only where the framing says nothing does the marker end the answer; it may
            // stand across two reads.
            if (!marker_.empty() && !reader_.framed() && state == AnswerReader::State::body &&
                reader_.body().find(marker_, before >= marker_.size() ? before - marker_.size() + 1
                                                                      : 0) != std::string::npos)
                return finish();
            wake_at_ = earliest(after(Clock::now(), limits_.read_wait_ms), receive_end_);
            return;
        }
    }
    const Clock::time_point now = Clock::now();
    if (now >= receive_end_)
        return finish();
    if (now >= wake_at_) {
        if (on_read)
            on_read(buffer_.get(), 0);
        if (++empty_waits_ >= limits_.max_tries)
            return finish();
        wake_at_ = earliest(after(now, limits_.read_wait_ms), receive_end_);
    }
}

void Exchange::finish() {
    stage_ = Stage::done;
    if (reader_.state() == AnswerReader::State::bad && heard_)
        error_ = reader_.error();
    else if (heard_ && reader_.framed() && reader_.state() == AnswerReader::State::body)
        error_ = "it did not come whole in time";
    else if (heard_ && reader_.state() == AnswerReader::State::head)
        error_ = "its header did not come whole in time";
    if (owned_)
        close_socket();
}

std::string Exchange::text() const {
    std::string text;
    if (reader_.too_large())
        return text;
    text.reserve(reader_.head().size() + reader_.body().size());
    append_received(text, reader_.head().data(), reader_.head().size());
    append_received(text, reader_.body().data(), reader_.body().size());
    return text;
}

void Exchange::run() {
    while (!done()) {
        pollfd p{fd(), events(), 0};
        const int r = ::poll(&p, 1, ms_until(wake_at_));
        step(r > 0 ? p.revents : 0);
    }
}

} // namespace upnp_http
