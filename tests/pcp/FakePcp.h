#pragma once

// A PCP server for tests on a loopback address (127.0.0.1 or ::1) and a port of its own. It
// records the requests and answers as `reply` says (by default it grants each as asked); a
// datagram of the reply that starts with "other:" goes out from another port.

#include <arpa/inet.h>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

class FakePcp {
  public:
    // The datagrams sent back to a request, counted from 1.
    using Reply = std::function<std::vector<std::string>(const std::string& request, int number)>;
    std::string address;
    uint16_t port = 0;
    std::atomic<uint32_t> epoch{100};

    // The answer that grants `request` as asked: its lifetime, its suggested port (else the
    // internal one), and 198.51.100.7 for an IPv4 client, the client's own address for an IPv6 one.
    static std::string grant(std::string request, uint32_t epoch = 100) {
        const std::string client = request.substr(8, 16);
        request[1] = char(request[1] | 0x80);
        request[2] = request[3] = 0;
        for (int i = 0; i < 4; ++i)
            request[8 + i] = char(epoch >> (24 - 8 * i));
        request.replace(12, 12, 12, '\0');
        if (request[1] == '\x81' && request.size() >= 60) {
            if (request[42] == 0 && request[43] == 0)
                request.replace(42, 2, request, 40, 2);
            const bool v4 = client.compare(0, 12, std::string(10, '\0') + "\xff\xff") == 0;
            request.replace(44, 16, v4 ? client.substr(0, 12) + "\xc6\x33\x64\x07" : client);
        }
        return request;
    }

    explicit FakePcp(Reply reply = nullptr, const std::string& host = "127.0.0.1") : address(host) {
        const bool v6 = host.find(':') != host.npos;
        sockaddr_in6 at{}; // the port stands at the same offset in either family
        at.sin6_family = v6 ? AF_INET6 : AF_INET;
        ::inet_pton(at.sin6_family, host.c_str(),
                    v6 ? (void*)&at.sin6_addr : &reinterpret_cast<sockaddr_in&>(at).sin_addr);
        socklen_t size = v6 ? sizeof at : sizeof(sockaddr_in);
        for (int& fd : sockets_) {
            fd = ::socket(at.sin6_family, SOCK_DGRAM, 0);
            ::bind(fd, reinterpret_cast<sockaddr*>(&at), size);
        }
        ::getsockname(sockets_[0], reinterpret_cast<sockaddr*>(&at), &size);
        port = ntohs(at.sin6_port);
        const timeval tick{0, 10000}; // how soon the thread notices that it should stop
        ::setsockopt(sockets_[0], SOL_SOCKET, SO_RCVTIMEO, &tick, sizeof tick);
        thread_ = std::thread([this, reply] {
            char in[2048];
            sockaddr_in6 from{};
            auto* const peer = reinterpret_cast<sockaddr*>(&from);
            for (socklen_t size = sizeof from; !stop_; size = sizeof from) {
                const ssize_t n = ::recvfrom(sockets_[0], in, sizeof in, 0, peer, &size);
                if (n < 0)
                    continue;
                std::unique_lock lock(mutex_);
                requests_.emplace_back(in, n);
                const int number = int(requests_.size());
                lock.unlock();
                const std::string request(in, n);
                for (const std::string& out :
                     reply ? reply(request, number) : std::vector{grant(request, epoch)}) {
                    const bool other = out.compare(0, 6, "other:") == 0;
                    ::sendto(sockets_[other], out.data() + 6 * other, out.size() - 6 * other, 0,
                             peer, size);
                }
            }
        });
    }
    ~FakePcp() {
        stop_ = true;
        thread_.join();
        for (int fd : sockets_)
            ::close(fd);
    }
    std::vector<std::string> requests() const {
        std::scoped_lock lock(mutex_);
        return requests_;
    }

  private:
    int sockets_[2] = {-1, -1};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
