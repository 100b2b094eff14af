#include "FakeRouter.h"

#include <algorithm>
#include <arpa/inet.h>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <poll.h>
#include <unistd.h>

namespace fakerouter {

static int open_socket(int type, uint16_t& port) {
    const int fd = ::socket(AF_INET, type, 0);
    sockaddr_in address{AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}};
    socklen_t length = sizeof address;
    ::bind(fd, reinterpret_cast<sockaddr*>(&address), length);
    ::listen(fd, 64); // fails harmlessly on the UDP socket
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
    port = ntohs(address.sin_port);
    return fd;
}

// Short polls, so that every loop soon sees the router closing.
static bool readable(int fd) {
    pollfd p{fd, POLLIN, 0};
    return ::poll(&p, 1, 10) > 0;
}

std::string http(const std::string& body, const std::string& status) {
    return "HTTP/1.1 " + status + "\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

FakeRouter::FakeRouter()
    : udp_(open_socket(SOCK_DGRAM, ssdp_port_)), listener_(open_socket(SOCK_STREAM, http_port_)),
      base_("http://127.0.0.1:" + std::to_string(http_port_)),
      ssdp_thread_(&FakeRouter::serve_ssdp, this), http_thread_(&FakeRouter::serve_http, this) {
    on_http({{},
             http(file("fault.xml", {{"@CODE@", "714"}, {"@TEXT@", "NoSuchEntryInArray"}}),
                  "500 Internal Server Error")});
}

FakeRouter::~FakeRouter() {
    closing_ = true;
    stop();
    ssdp_thread_.join();
    ::close(udp_);
}
void FakeRouter::stop() {
    if (!http_thread_.joinable())
        return;
    ::shutdown(listener_, SHUT_RDWR); // wakes the accept; the port stops listening at once
    http_thread_.join();
}

std::string FakeRouter::file(const std::string& name,
                             std::map<std::string, std::string> fill) const {
    fill.emplace("@PORT@", std::to_string(http_port_));
    std::string text; // data files hold no zero byte
    std::getline(std::ifstream(std::string(QUAYMAP_TEST_DATA) + "/" + name), text, '\0');
    for (const auto& [key, value] : fill)
        for (auto at = text.find(key); at != text.npos; at = text.find(key, at + value.size()))
            text.replace(at, key.size(), value);
    return text;
}

void FakeRouter::add(std::vector<Rule>& rules, const Rule& rule) {
    const std::lock_guard<std::mutex> lock(mutex_);
    rules.push_back(rule);
}
std::vector<std::string> FakeRouter::copy(const std::vector<std::string>& texts) const {
    const std::lock_guard<std::mutex> lock(mutex_);
    return texts;
}
bool FakeRouter::record(std::vector<std::string>& seen, const std::vector<Rule>& rules,
                        const std::string& text, Rule& found) {
    const std::lock_guard<std::mutex> lock(mutex_);
    seen.push_back(text);
    const auto in_text = [&](const std::string& part) { return text.find(part) != text.npos; };
    for (auto r = rules.rbegin(); r != rules.rend(); ++r)
        if (std::all_of(r->patterns.begin(), r->patterns.end(), in_text))
            return found = *r, true;
    return false;
}

bool FakeRouter::nap(int ms) const {
    for (int slept = 0; slept < ms && !closing_; slept += 2)
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return !closing_;
}

void FakeRouter::serve_ssdp() {
    for (std::string buffer(65536, '\0'); !closing_;) {
        sockaddr_in from{};
        socklen_t length = sizeof from;
        auto* const peer = reinterpret_cast<sockaddr*>(&from);
        const ssize_t n =
            readable(udp_) ? ::recvfrom(udp_, &buffer[0], 65536, 0, peer, &length) : -1;
        Rule rule;
        if (n >= 0 && record(datagrams_, ssdp_rules_, buffer.substr(0, n), rule) &&
            nap(rule.delay_ms))
            ::sendto(udp_, rule.answer.data(), rule.answer.size(), 0, peer, length);
    }
}

void FakeRouter::serve_http() {
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
                need =
                    at + 4 + (length < at ? std::strtoul(&request[length + 15], nullptr, 10) : 0);
        }
        Rule rule;
        record(requests_, http_rules_, request, rule);
        // A client that gives up closes its end: that ends a hang, and a failing send a trickle.
        while (rule.hang && !closing_ &&
               !(readable(fd) && ::recv(fd, buffer, sizeof buffer, 0) <= 0))
            continue;
        const std::string bytes = rule.answer.substr(0, rule.close_after);
        const std::size_t piece = rule.piece > 0 ? rule.piece : bytes.size();
        for (std::size_t at = 0; !rule.hang && at < bytes.size(); at += piece)
            if (!nap(at ? rule.gap_ms : rule.delay_ms) ||
                ::send(fd, bytes.data() + at, std::min(piece, bytes.size() - at), MSG_NOSIGNAL) < 0)
                break;
    }
    ::close(listener_);
}

} // namespace fakerouter
