// One HTTP request and its answer on a connection of its own. It runs step by step, so that one
// thread can drive several side by side (the candidates of a search), or runs to its end.
#pragma once

#include "answer_reader.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace upnp_http {

using Clock = std::chrono::steady_clock;

// Whatever the counts allow, an exchange never outlasts its deadline.
struct Limits {
    int connect_tries = 1;         // connection attempts
    int connect_timeout_ms = 1000; // one attempt gives up after this
    int connect_pause_ms = 1000;   // pause before each further attempt
    int connect_budget_ms = 9000;  // all attempts together
    int read_wait_ms = 1000;       // one wait for data
    int max_tries = 10;            // waits for data, all together at most this many times long
    std::size_t body_cap = 4u * 1024u * 1024u;
    Clock::time_point deadline = Clock::time_point::max();
    std::string source; // the local address connections leave from; empty: the system's choice
};

class Exchange {
  public:
    // Connects to `host` (a numeric IPv4 or IPv6 address; a name is never looked up), sends
    // `request` and reads the answer. An empty request: only the connection is made. The
    // marker ends an answer whose framing does not say where it ends.
    Exchange(const std::string& host, uint16_t port, std::string request, const Limits& limits,
             std::string marker = {});
    // Reads the answer to a request already sent on `fd`, which stays open and the caller's.
    Exchange(int fd, const Limits& limits, std::string marker);
    ~Exchange();
    Exchange(const Exchange&) = delete;
    Exchange& operator=(const Exchange&) = delete;

    // What to wait for before the next step: the socket (-1: only time) with its events, and
    // the moment the step is due whatever comes.
    int fd() const { return stage_ == Stage::pausing ? -1 : fd_; }
    short events() const;
    Clock::time_point wake_at() const { return wake_at_; }
    // After the wait: the events that came (0 when none did).
    void step(short revents);
    // Waits and steps until done.
    void run();
    bool done() const { return stage_ == Stage::done; }

    bool connected() const { return connected_; }
    bool refused() const { return refused_; } // nothing listens there
    bool heard() const { return heard_; }     // at least one byte came back
    const AnswerReader& answer() const { return reader_; }
    // Why the answer cannot be taken as it stands; empty when it can (or when none came).
    const std::string& error() const { return error_; }
    // Head and body, zero bytes as U+FFFD; empty when nothing came or the body outgrew its cap.
    std::string text() const;
    // Hands the connection over; the exchange no longer closes it.
    int release();

    // Each read as it comes; size 0 for a wait that brought nothing.
    std::function<void(const char* data, std::size_t size)> on_read;

  private:
    enum class Stage { connecting, pausing, sending, receiving, done };

    void attempt();
    void attempt_failed(int error);
    void start_sending();
    void send_some();
    void start_receiving();
    void receive(short revents);
    void finish();
    void close_socket();

    Limits limits_;
    std::string request_;
    std::string marker_;
    Stage stage_ = Stage::done;
    int fd_ = -1;
    bool owned_ = true;
    int family_ = 0;
    unsigned char address_[28] = {}; // a sockaddr_in or sockaddr_in6
    unsigned address_size_ = 0;
    int attempts_ = 0;
    Clock::time_point now_{}; // when the step in hand began
    Clock::time_point connect_end_{};
    Clock::time_point wake_at_{};
    Clock::time_point receive_end_{};
    std::size_t sent_ = 0;
    int empty_waits_ = 0;
    bool connected_ = false, refused_ = false, heard_ = false;
    AnswerReader reader_;
    std::string error_;
    std::unique_ptr<char[]> buffer_;
};

} // namespace upnp_http
