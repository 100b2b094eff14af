#pragma once

// A scripted home router for tests on a loopback address (ephemeral ports): an SSDP responder (UDP)
// and an HTTP server (TCP, connections one after the other), each on its own thread. The newest
// rule whose patterns all stand in a datagram or request answers it; else a request gets HTTP 500
// with UPnP error 714 NoSuchEntryInArray, a datagram nothing. All received is recorded.

#include <algorithm>
#include <arpa/inet.h>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <poll.h>
#include <string>
#include <thread>
#include <unistd.h>
#include <vector>

namespace fakerouter {

struct Rule {
    std::vector<std::string> patterns;  // substrings the request must all contain (none: any)
    std::string answer;                 // the bytes sent back (HTTP: status line included)
    std::size_t piece = 0;              // HTTP: when set, the answer goes in writes this long
    int gap_ms = 0;                     // HTTP: pause between two writes
    std::size_t close_after = SIZE_MAX; // HTTP: send only this many bytes, then close
    bool keep_open = false;             // HTTP: the connection stays until the client closes it
    std::function<std::string(const std::string&)> reply = nullptr; // HTTP: answers when set
};

// An HTTP answer: the status line, Content-Length, "Connection: close", then `body`.
inline std::string http(const std::string& body, const std::string& status = "200 OK") {
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

// The same answer as the router's web server may stream it: the body in chunks of seeded random
// sizes (a few bytes up to a few hundred, so that boundaries fall inside tags and values), with
// a chunk extension and a trailer.
inline std::string chunked(const std::string& body, unsigned seed,
                           const std::string& status = "200 OK") {
    std::string text = "HTTP/1.1 " + status + "\r\nTransfer-Encoding: chunked\r\n\r\n";
    char size[16];
    for (std::size_t at = 0, n; at < body.size(); at += n) {
        seed = seed * 1103515245u + 12345u;
        n = std::min<std::size_t>(body.size() - at, 1 + (seed >> 16) % (seed % 3 ? 9 : 300));
        std::snprintf(size, sizeof size, seed % 5 ? "%zx" : "%zX;ext=1", n);
        text += size + ("\r\n" + body.substr(at, n)) + "\r\n";
    }
    return text + "0\r\nX-Trailer: 1\r\n\r\n";
}

// An answer as HTTP/1.0 gives it: no length, the close ends it.
inline std::string http10(const std::string& body) {
    return "HTTP/1.0 200 OK\r\nContent-Type: text/xml\r\n\r\n" + body;
}

class FakeRouter {
    enum { ssdp, web };
    template <typename F> auto locked(F f) const {
        const std::lock_guard<std::mutex> lock(mutex_);
        return f();
    }

  public:
    uint16_t ssdp_port = 0, http_port = 0; // set as the sockets open, before the threads start

    // `address`: any of 127/8, so that several routers can stand side by side, or ::1.
    explicit FakeRouter(const std::string& address = "127.0.0.1")
        : address_(address), udp_(open(SOCK_DGRAM, address, ssdp_port)),
          listener_(open(SOCK_STREAM, address, http_port)),
          threads_{std::thread(&FakeRouter::serve_ssdp, this),
                   std::thread(&FakeRouter::serve_http, this)} {
        on_http({{},
                 http(file("fault.xml", {{"@CODE@", "714"}, {"@TEXT@", "NoSuchEntryInArray"}}),
                      "500 Internal Server Error")});
    }
    ~FakeRouter() {
        closing_ = true;
        stop();
        threads_[ssdp].join();
        ::close(udp_);
    }
    std::string url(const std::string& path) const {
        const bool v6 = address_.find(':') != address_.npos;
        return "http://" + (v6 ? "[" + address_ + "]" : address_) + ":" +
               std::to_string(http_port) + path;
    }
    // A file of tests/data with "@PORT@" replaced by http_port and each key of `fill` by its value.
    std::string file(const std::string& name, std::map<std::string, std::string> fill = {}) const {
        fill.emplace("@PORT@", std::to_string(http_port));
        std::string text; // data files hold no zero byte
        std::getline(std::ifstream(std::string(QUAYMAP_TEST_DATA) + "/" + name), text, '\0');
        for (const auto& [key, value] : fill)
            for (auto at = text.find(key); at != text.npos; at = text.find(key, at + value.size()))
                text.replace(at, key.size(), value);
        return text;
    }
    void on_http(const Rule& rule) {
        locked([&] { rules_[web].push_back(rule); });
    }
    void on_ssdp(const Rule& rule) {
        locked([&] { rules_[ssdp].push_back(rule); });
    }
    // Each HTTP request whole (header and body), and each SSDP datagram, in arrival order.
    std::vector<std::string> requests() const {
        return locked([&] { return seen_[web]; });
    }
    std::vector<std::string> datagrams() const {
        return locked([&] { return seen_[ssdp]; });
    }
    // Closes the HTTP listener: from its return on, connections are refused.
    void stop() {
        if (!threads_[web].joinable())
            return;
        ::shutdown(listener_, SHUT_RDWR); // wakes the accept; the port stops listening at once
        threads_[web].join();
    }

  private:
    static int open(int type, const std::string& host, uint16_t& port) {
        const bool v6 = host.find(':') != host.npos;
        const int fd = ::socket(v6 ? AF_INET6 : AF_INET, type, 0);
        sockaddr_in6 address{}; // the port stands at the same offset in either family
        address.sin6_family = v6 ? AF_INET6 : AF_INET;
        ::inet_pton(address.sin6_family, host.c_str(),
                    v6 ? (void*)&address.sin6_addr
                       : &reinterpret_cast<sockaddr_in&>(address).sin_addr);
        socklen_t length = v6 ? sizeof address : sizeof(sockaddr_in);
        ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
        ::listen(fd, 64); // fails harmlessly on the UDP socket
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
        port = ntohs(address.sin6_port);
        return fd;
    }
    // Short polls, so that every loop soon sees the router closing.
    static bool readable(int fd) {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, 10) > 0;
    }
    // Records `text`; true when a rule answers it.
    bool record(int kind, const std::string& text, Rule& found) {
        return locked([&] {
            seen_[kind].push_back(text);
            const auto in = [&](const std::string& part) { return text.find(part) != text.npos; };
            for (auto r = rules_[kind].rbegin(); r != rules_[kind].rend(); ++r)
                if (std::all_of(r->patterns.begin(), r->patterns.end(), in))
                    return found = *r, true;
            return false;
        });
    }
    void serve_ssdp() {
        for (std::string buffer(65536, '\0'); !closing_;) {
            sockaddr_in6 from{}; // either family
            socklen_t size = sizeof from;
            auto* const peer = reinterpret_cast<sockaddr*>(&from);
            const ssize_t n =
                readable(udp_) ? ::recvfrom(udp_, &buffer[0], 65536, 0, peer, &size) : -1;
            Rule rule;
            if (n >= 0 && record(ssdp, buffer.substr(0, n), rule))
                ::sendto(udp_, rule.answer.data(), rule.answer.size(), 0, peer, size);
        }
    }
    void serve_http() {
        for (int fd; (fd = ::accept(listener_, nullptr, nullptr)) >= 0; ::close(fd)) {
            std::string request;
            char buffer[65536];
            for (std::size_t need = SIZE_MAX, at; request.size() < need && !closing_;) {
                const ssize_t n = readable(fd) ? ::recv(fd, buffer, sizeof buffer, 0) : -2;
                if (n == 0 || n == -1)
                    break;
                request.append(buffer, n > 0 ? n : 0); // whole once the body announced is in
                const std::size_t length = request.find("Content-Length:");
                if ((at = request.find("\r\n\r\n")) != request.npos)
                    need = at + 4 +
                           (length < at ? std::strtoul(&request[length + 15], nullptr, 10) : 0);
            }
            Rule rule;
            record(web, request, rule);
            const std::string bytes =
                (rule.reply ? rule.reply(request) : rule.answer).substr(0, rule.close_after);
            const std::size_t piece = rule.piece > 0 ? rule.piece : bytes.size();
            // A client that gives up closes its end: the next write fails and ends a trickle.
            for (std::size_t at = 0; at < bytes.size() && !closing_; at += piece) {
                for (int slept = 0; at > 0 && slept < rule.gap_ms && !closing_; slept += 2)
                    std::this_thread::sleep_for(std::chrono::milliseconds(2));
                if (::send(fd, &bytes[at], std::min(piece, bytes.size() - at), MSG_NOSIGNAL) < 0)
                    break;
            }
            while (rule.keep_open && !closing_ && (!readable(fd) || ::recv(fd, buffer, 1, 0) > 0)) {
            }
        }
        ::close(listener_);
    }

    const std::string address_;
    const int udp_, listener_;
    std::atomic<bool> closing_{false};
    mutable std::mutex mutex_;
    std::vector<Rule> rules_[2];
    std::vector<std::string> seen_[2];
    std::thread threads_[2];
};

} // namespace fakerouter
