// One HTTP answer, read as its bytes arrive, however the router frames its body: by
// Content-Length, in chunks, or up to the close of the connection. No socket in here, so that
// tests and the fuzzer feed it directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace upnp_http {

// Received bytes as text: each zero byte becomes U+FFFD, so that nothing after it is lost and
// a reader that stops at a zero byte still sees the whole answer.
void append_received(std::string& text, const char* data, std::size_t size);

class AnswerReader {
  public:
    enum class State { head, body, complete, bad };
    // Status line and headers together never need more than this.
    static constexpr std::size_t kHeadCap = 64 * 1024;

    // `body_cap`: the largest decoded body taken; a larger one makes the answer bad.
    explicit AnswerReader(std::size_t body_cap);

    // The next bytes received; returns the state after them. Bytes after a complete answer
    // (a router that keeps the connection) are not part of it.
    State feed(const char* data, std::size_t size);
    // The router closed the connection: a body that runs to the close is complete now; an
    // answer that had not ended otherwise is bad.
    State close();

    State state() const { return state_; }
    // Whether the answer says where it ends (a Content-Length or chunks), so that nothing but
    // the framing may end it.
    bool framed() const { return framing_ != Framing::to_close; }
    int status() const { return status_; } // 0 until the status line is in
    // Status line and headers up to the blank line that ends them, as received.
    const std::string& head() const { return head_; }
    const std::string& body() const { return body_; }
    const std::string& error() const { return error_; } // why the answer is bad
    bool too_large() const { return too_large_; }

  private:
    enum class Framing { to_close, length, chunked };
    enum class Chunk { size, data, data_end, trailer };

    void take_head(const char* data, std::size_t size, std::size_t& used);
    void start_body();
    void take_chunked(const char* data, std::size_t size);
    void take_body(const char* data, std::size_t size);
    bool line(const char* data, std::size_t size, std::size_t& used, std::size_t cap);
    State fail(const std::string& why);

    std::size_t body_cap_;
    State state_ = State::head;
    Framing framing_ = Framing::to_close;
    Chunk chunk_ = Chunk::size;
    int status_ = 0;
    std::string head_;
    std::string body_;
    std::string error_;
    std::string line_;  // a chunk-size or trailer line not yet whole
    uint64_t left_ = 0; // bytes still due for the Content-Length or the chunk in hand
    bool too_large_ = false;
};

} // namespace upnp_http
