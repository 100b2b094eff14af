#pragma once

// A NAT-PMP gateway for tests on UDP <127.a.b.c>:5351, an address of its own (from the pid: test
// programs run side by side never share one). It records the requests and answers as scripted,
// naming 198.51.100.7 and granting what is asked.

#include <arpa/inet.h>
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

class FakeNatPmp {
  public:
    std::string address;      // the dotted address it listens on
    std::atomic<int> sent{0}; // datagrams sent so far

    // `answer_nth`: the datagram answered, counted from 1 (0: each one; -1: none); `raw`: datagrams
    // sent instead of the answer.
    explicit FakeNatPmp(int answer_nth = 0, std::vector<std::string> raw = {}) {
        sockaddr_in at{AF_INET, htons(5351), {}, {}};
        // Another fake, of this program or another, may hold an address: step on to the next.
        for (uint32_t n = ::getpid() * 2654435761u; address.empty(); n += 40503u) {
            at.sin_addr.s_addr = htonl(0x7f010000u + n % 0xfe0000u); // 127.1.0.0 to 127.254.255.255
            if (::bind(socket_, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0)
                address = inet_ntoa(at.sin_addr);
        }
        const timeval tick{0, 10000}; // how soon the thread notices that it should stop
        ::setsockopt(socket_, SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
        thread_ = std::thread([=] {
            char in[64];
            sockaddr_in from{};
            socklen_t size = sizeof from;
            auto* const peer = reinterpret_cast<sockaddr*>(&from);
            while (!stop_) {
                const ssize_t n = ::recvfrom(socket_, in, sizeof in, 0, peer, &size);
                if (n < 0)
                    continue;
                std::unique_lock lock(mutex_);
                requests_.emplace_back(in, n);
                const bool asked = answer_nth == 0 || requests_.size() == std::size_t(answer_nth);
                lock.unlock();
                if (!asked || (n != 2 && n != 12))
                    continue;
                // A mapping answer ends in the request's own last eight bytes: ports and lifetime.
                const std::string answer = std::string{0, char(128 + in[1]), 0, 0, 0, 0, 0, 1} +
                                           (n == 2 ? "\xc6\x33\x64\x07" : std::string(in + 4, 8));
                for (const std::string& out : raw.empty() ? std::vector{answer} : raw)
                    sent += ::sendto(socket_, out.data(), out.size(), 0, peer, size) >= 0;
            }
        });
    }
    ~FakeNatPmp() {
        stop_ = true;
        thread_.join();
        ::close(socket_);
    }
    std::vector<std::string> requests() const {
        std::scoped_lock lock(mutex_);
        return requests_;
    }

  private:
    const int socket_ = ::socket(AF_INET, SOCK_DGRAM, 0);
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
