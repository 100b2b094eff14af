#include "NatPmpClient.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

// libnatpmp retransmits on its own from inside its read once its deadline has passed, unless its
// try counter has reached this value; kept there, every transmission is one the client counted.
constexpr int kLibraryGiveUp = 9;
// Bounds one drain, so that a gateway flooding the socket cannot hold a request back for ever.
constexpr int kMaxSkipped = 256;
constexpr int kAnswerBit = 128;
constexpr long long kLongestDelayMs = 3600 * 1000LL;

int answer_length(int opcode) {
    return opcode == 0 ? 12 : 16;
}

int request_length(int opcode) {
    return opcode == 0 ? 2 : 12;
}

std::string dotted(in_addr address) {
    char text[INET_ADDRSTRLEN] = {};
    return inet_ntop(AF_INET, &address, text, sizeof text) ? text : "";
}

bool nothing_waiting(int error) {
    return error == EAGAIN || error == EWOULDBLOCK;
}

} // namespace

NatPmpClient::NatPmpClient(NatPmpTimings timings) : timings_(timings) {
    handle_.s = -1;
    if (::pipe2(wake_, O_NONBLOCK | O_CLOEXEC) != 0)
        wake_[0] = wake_[1] = -1;
}

NatPmpClient::~NatPmpClient() {
    close();
    for (int fd : wake_)
        if (fd >= 0)
            ::close(fd);
}

void NatPmpClient::cancel() {
    cancelled_ = true;
    const char byte = 1;
    if (wake_[1] >= 0 && ::write(wake_[1], &byte, 1) < 0) {
        // A full pipe already wakes the wait.
    }
}

void NatPmpClient::resume() {
    char bytes[64];
    while (wake_[0] >= 0 && ::read(wake_[0], bytes, sizeof bytes) > 0) {
    }
    cancelled_ = false;
}

void NatPmpClient::force_gateway(const std::string& dotted) {
    forced_gateway_ = dotted;
}

int NatPmpClient::open() {
    close();
    has_epoch_ = false; // another gateway, perhaps
    restart_.clear();
    in_addr forced{};
    const bool force = !forced_gateway_.empty();
    if (force && inet_pton(AF_INET, forced_gateway_.c_str(), &forced) != 1)
        return NATPMP_ERR_INVALIDARGS;
    const int result = initnatpmp(&handle_, force ? 1 : 0, forced.s_addr);
    if (result != 0) {
        handle_ = natpmp_t{};
        handle_.s = -1;
        return result;
    }
    open_ = true;
    return 0;
}

void NatPmpClient::close() {
    if (!open_)
        return;
    closenatpmp(&handle_);
    handle_ = natpmp_t{};
    handle_.s = -1;
    open_ = false;
}

bool NatPmpClient::is_open() const {
    return open_;
}

std::string NatPmpClient::gateway() const {
    if (!open_)
        return "";
    in_addr address{};
    address.s_addr = handle_.gateway;
    return dotted(address);
}

int NatPmpClient::public_address(std::string& address) {
    natpmpresp_t answer{};
    const int result = exchange(0, 0, 0, 0, answer);
    if (result == 0)
        address = dotted(answer.pnu.publicaddress.addr);
    return result;
}

int NatPmpClient::map(int protocol, uint16_t private_port, uint16_t public_port, uint32_t lifetime,
                      NatPmpMapping& granted) {
    if (protocol != NATPMP_PROTOCOL_UDP && protocol != NATPMP_PROTOCOL_TCP)
        return NATPMP_ERR_INVALIDARGS;
    natpmpresp_t answer{};
    const int opcode = protocol == NATPMP_PROTOCOL_UDP ? 1 : 2;
    const int result = exchange(opcode, private_port, public_port, lifetime, answer);
    if (result == 0) {
        granted.protocol = protocol;
        granted.private_port = answer.pnu.newportmapping.privateport;
        granted.public_port = answer.pnu.newportmapping.mappedpublicport;
        granted.lifetime = answer.pnu.newportmapping.lifetime;
    }
    return result;
}

int NatPmpClient::unmap(int protocol, uint16_t private_port) {
    NatPmpMapping ignored;
    return map(protocol, private_port, 0, 0, ignored);
}

int NatPmpClient::exchange(int opcode, uint16_t private_port, uint16_t public_port,
                           uint32_t lifetime, natpmpresp_t& answer) {
    if (!open_)
        return NATPMP_ERR_INVALIDARGS;
    const int cap = std::max(1, timings_.max_transmissions);
    // Without a transaction id, a late answer to an earlier request would pass for this one's.
    drain();
    int transmissions = 1;
    int result = transmit(opcode, private_port, public_port, lifetime, transmissions);
    if (result == 0 && opcode == 0 && log)
        log("sended public ip address request");
    while (result == 0) {
        if (cancelled_)
            return NATPMP_ERR_NOGATEWAYSUPPORT;
        timeval left{};
        result = getnatpmprequesttimeout(&handle_, &left);
        if (result != 0)
            break;
        if (log)
            log("geted timeout func");
        const long long micros = left.tv_sec * 1000000LL + left.tv_usec;
        if (micros <= 0) {
            if (transmissions >= cap)
                return NATPMP_ERR_NOGATEWAYSUPPORT;
            result = transmit(opcode, private_port, public_port, lifetime, ++transmissions);
            continue;
        }
        pollfd ready[2] = {{handle_.s, POLLIN, 0}, {wake_[0], POLLIN, 0}};
        const int wait_ms = static_cast<int>(std::min<long long>((micros + 999) / 1000, INT_MAX));
        const int polled = ::poll(ready, wake_[0] >= 0 ? 2 : 1, wait_ms);
        if (polled < 0 && errno != EINTR)
            return NATPMP_ERR_SOCKETERROR;
        if (polled > 0 && ready[0].revents != 0) {
            result = take_answer(opcode, private_port, answer);
            if (result != NATPMP_TRYAGAIN)
                return result;
            result = 0;
        }
    }
    return result;
}

int NatPmpClient::transmit(int opcode, uint16_t private_port, uint16_t public_port,
                           uint32_t lifetime, int number) {
    // The library's own send (rather than its retransmission) keeps every datagram's timing in
    // the client's hands, and the library's read is only ever reached with a checked answer.
    const int sent = opcode == 0
                         ? sendpublicaddressrequest(&handle_)
                         : sendnewportmappingrequest(
                               &handle_, opcode == 1 ? NATPMP_PROTOCOL_UDP : NATPMP_PROTOCOL_TCP,
                               private_port, public_port, lifetime);
    if (sent < 0)
        return sent;
    if (sent != request_length(opcode))
        return NATPMP_ERR_SENDERR;
    handle_.try_number = kLibraryGiveUp;
    long long delay_ms = std::max(1, timings_.first_retry_ms);
    for (int n = 1; n < number && delay_ms < kLongestDelayMs; ++n)
        delay_ms *= 2;
    delay_ms = std::min(delay_ms, kLongestDelayMs);
    // getnatpmprequesttimeout() measures against this, on gettimeofday()'s clock.
    timeval now{};
    if (gettimeofday(&now, nullptr) != 0)
        return NATPMP_ERR_GETTIMEOFDAYERR;
    const long long due_us = now.tv_usec + delay_ms % 1000 * 1000;
    handle_.retry_time.tv_sec = now.tv_sec + delay_ms / 1000 + due_us / 1000000;
    handle_.retry_time.tv_usec = due_us % 1000000;
    if (log_request) {
        std::string text = "NAT-PMP request " + std::to_string(number) + ":";
        for (int i = 0; i < handle_.pending_request_len && i < 12; ++i) {
            char byte[4];
            std::snprintf(byte, sizeof byte, " %02x", handle_.pending_request[i]);
            text += byte;
        }
        log_request(text);
    }
    return 0;
}

int NatPmpClient::take_answer(int opcode, uint16_t private_port, natpmpresp_t& answer) {
    // libnatpmp takes any datagram and reads the fields it lacks from stale memory, so it is
    // handed only the ones that are whole answers to this very request.
    for (int skipped = 0; skipped < kMaxSkipped; ++skipped) {
        unsigned char head[16] = {};
        const ssize_t length = ::recv(handle_.s, head, sizeof head, MSG_PEEK | MSG_DONTWAIT);
        if (length < 0) {
            if (errno == EINTR)
                continue;
            // An ICMP refusal of the port surfaces here, as it would in the library's read.
            return nothing_waiting(errno) ? NATPMP_TRYAGAIN : NATPMP_ERR_RECVFROM;
        }
        const bool whole = length >= answer_length(opcode) && head[0] == 0 &&
                           head[1] == kAnswerBit + opcode &&
                           (opcode == 0 || (head[8] << 8 | head[9]) == private_port);
        if (whole) {
            const int result = readnatpmpresponseorretry(&handle_, &answer);
            if (result == 0)
                take_epoch(answer.epoch);
            return result;
        }
        ::recv(handle_.s, head, sizeof head, MSG_DONTWAIT);
    }
    return NATPMP_TRYAGAIN;
}

void NatPmpClient::drain() {
    unsigned char skipped[16];
    for (int n = 0; n < kMaxSkipped; ++n) {
        // A pending socket error (a refusal of an earlier request) is consumed the same way.
        if (::recv(handle_.s, skipped, sizeof skipped, MSG_DONTWAIT) < 0 && nothing_waiting(errno))
            return;
    }
}
