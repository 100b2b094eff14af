// A re-framing relay for the lab's router namespace: it takes each request a client sends,
// passes it to miniupnpd, and answers in a framing miniupnpd never uses (miniupnpd sends
// Content-Length and closes): the body chunked in random sizes, the connection kept open after
// the answer, or both. A body URL that names miniupnpd's own address names the relay instead.
//
// Usage: lab_relay --to ADDRESS:PORT --port PORT:FRAMING [--port PORT:FRAMING...] [--seed N]
//                  [--lifetime SECONDS]
//   FRAMING  chunked (then the close), keep (Content-Length, kept open), chunked-keep
// Listens on ADDRESS, prints "ready" once every port listens, and ends by itself after
// --lifetime (600 s unless given), or at SIGTERM. A connection kept open ends after 10 s idle.
#include "relay_http.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int kIdleMs = 10000;

volatile sig_atomic_t stopping = 0;

struct Port {
    uint16_t number = 0;
    bool chunked = false, keep = false;
    int fd = -1;
};

struct Settings {
    sockaddr_in to{};
    std::string to_text; // "ADDRESS:PORT"
    std::vector<Port> ports;
    unsigned seed = 15;
    int lifetime_s = 600;
};

[[noreturn]] void fail(const std::string& text) {
    std::fprintf(stderr, "lab_relay: %s\n", text.c_str());
    std::exit(2);
}

Port port_of(const std::string& text) {
    const size_t colon = text.find(':');
    const std::string framing = colon == std::string::npos ? "" : text.substr(colon + 1);
    Port p;
    p.number = static_cast<uint16_t>(std::atoi(text.c_str()));
    p.chunked = framing == "chunked" || framing == "chunked-keep";
    p.keep = framing == "keep" || framing == "chunked-keep";
    if (p.number == 0 || !(p.chunked || p.keep))
        fail("not a PORT:FRAMING: " + text);
    return p;
}

Settings parse(int argc, char** argv) {
    Settings s;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string arg = argv[i], value = argv[i + 1];
        if (arg == "--to") {
            const size_t colon = value.find(':');
            s.to.sin_family = AF_INET;
            s.to.sin_port = htons(static_cast<uint16_t>(std::atoi(value.c_str() + colon + 1)));
            if (colon == std::string::npos ||
                inet_pton(AF_INET, value.substr(0, colon).c_str(), &s.to.sin_addr) != 1)
                fail("not an ADDRESS:PORT: " + value);
            s.to_text = value;
        } else if (arg == "--port") {
            s.ports.push_back(port_of(value));
        } else if (arg == "--seed") {
            s.seed = static_cast<unsigned>(std::atoi(value.c_str()));
        } else if (arg == "--lifetime") {
            s.lifetime_s = std::atoi(value.c_str());
        } else {
            fail("unknown option " + arg);
        }
    }
    if (s.to_text.empty() || s.ports.empty() || argc % 2 == 0)
        fail("usage: lab_relay --to ADDRESS:PORT --port PORT:FRAMING... [--seed N] "
             "[--lifetime SECONDS]");
    return s;
}

void listen_on(const Settings& s, Port& p) {
    sockaddr_in at = s.to;
    at.sin_port = htons(p.number);
    p.fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const int on = 1;
    setsockopt(p.fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    if (bind(p.fd, reinterpret_cast<sockaddr*>(&at), sizeof at) != 0 || listen(p.fd, 16) != 0)
        fail("cannot listen on port " + std::to_string(p.number));
}

// miniupnpd's own origin in a body, as the relay's.
void point_at_relay(std::string& body, const Settings& s, const Port& p) {
    const std::string own = "http://" + s.to_text;
    const std::string relay =
        "http://" + s.to_text.substr(0, s.to_text.find(':')) + ":" + std::to_string(p.number);
    for (size_t at = 0; (at = body.find(own, at)) != std::string::npos; at += relay.size())
        body.replace(at, own.size(), relay);
}

void serve(int fd, const Settings& s, Port p, unsigned seed) {
    std::mt19937 random(seed);
    const int on = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    std::string request, raw;
    Answer answer;
    // A client that waits for the close instead of reading the framing waits out kIdleMs here.
    while (read_request(fd, request, kIdleMs) &&
           pass_on(s.to, with_host(request, s.to_text), raw) && split_answer(raw, answer)) {
        point_at_relay(answer.body, s, p);
        bool sent = true;
        for (const std::string& piece : reframe(answer, p.chunked, p.keep, random))
            sent = sent && send(fd, piece.data(), piece.size(), MSG_NOSIGNAL) ==
                               static_cast<ssize_t>(piece.size());
        if (!sent || !p.keep)
            break;
    }
    close(fd);
}

} // namespace

int main(int argc, char** argv) {
    Settings s = parse(argc, argv);
    for (Port& p : s.ports)
        listen_on(s, p);
    signal(SIGTERM, [](int) { stopping = 1; });
    signal(SIGPIPE, SIG_IGN);
    std::printf("ready\n");
    std::fflush(stdout);
    std::vector<pollfd> fds;
    for (const Port& p : s.ports)
        fds.push_back({p.fd, POLLIN, 0});
    std::atomic<unsigned> connections{0};
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(s.lifetime_s);
    while (!stopping && std::chrono::steady_clock::now() < end) {
        if (poll(fds.data(), fds.size(), 200) <= 0)
            continue;
        for (size_t i = 0; i < fds.size(); ++i) {
            if (!(fds[i].revents & POLLIN))
                continue;
            const int fd = accept4(fds[i].fd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0)
                std::thread(serve, fd, s, s.ports[i], s.seed + connections++).detach();
        }
    }
    return 0;
}
