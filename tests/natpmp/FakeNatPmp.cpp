#include "FakeNatPmp.h"

#include <arpa/inet.h>
#include <chrono>
#include <unistd.h>

FakeNatPmp::FakeNatPmp(NatPmpScript script)
    : socket_(::socket(AF_INET, SOCK_DGRAM, 0)), script_(std::move(script)) {
    sockaddr_in at{AF_INET, htons(5351), {}, {}};
    // Another fake, of this program or another, may hold an address: step on to the next one.
    for (uint32_t n = ::getpid() * 2654435761u; address.empty(); n += 40503u) {
        at.sin_addr.s_addr = htonl(0x7f010000u + n % 0xfe0000u); // 127.1.0.0 to 127.254.255.255
        if (::bind(socket_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0)
            address = inet_ntoa(at.sin_addr);
    }
    const timeval tick{0, 10000}; // how soon the thread notices that it should stop
    ::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
    thread_ = std::thread([this] { serve(); });
}

FakeNatPmp::~FakeNatPmp() {
    stop_ = true;
    thread_.join();
    ::close(socket_);
}

void FakeNatPmp::serve() {
    char in[64];
    sockaddr_in from{};
    socklen_t from_length = sizeof from;
    while (!stop_) {
        const ssize_t n =
            ::recvfrom(socket_, in, sizeof in, 0, reinterpret_cast<sockaddr*>(&from), &from_length);
        if (n < 0)
            continue;
        std::unique_lock<std::mutex> lock(mutex_);
        // Once answered, the same datagram again is a new request.
        nth_ =
            !requests_.empty() && requests_.back() == std::string(in, n) && nth_ > 0 ? nth_ + 1 : 1;
        requests_.emplace_back(in, n);
        if (nth_ != script_.answer_nth || (n != 2 && n != 12))
            continue;
        nth_ = 0;
        lock.unlock();
        // A mapping answer ends in the request's own last eight bytes: ports and lifetime.
        std::string answer = std::string{0, static_cast<char>(128 + in[1]), 0, 0, 0, 0, 0, 1} +
                             (n == 2 ? "\xc6\x33\x64\x07" : std::string(in + 4, 8));
        const uint16_t port = htons(script_.public_port);
        const uint32_t lifetime = htonl(script_.lifetime);
        if (n == 12 && port != 0)
            answer.replace(10, 2, reinterpret_cast<const char*>(&port), 2);
        if (n == 12 && lifetime != 0)
            answer.replace(12, 4, reinterpret_cast<const char*>(&lifetime), 4);
        std::this_thread::sleep_for(std::chrono::milliseconds(script_.delay_ms));
        for (const std::string& out :
             script_.raw.empty() ? std::vector<std::string>{answer} : script_.raw)
            sent += ::sendto(socket_, out.data(), out.size(), 0, reinterpret_cast<sockaddr*>(&from),
                             from_length) >= 0;
    }
}
