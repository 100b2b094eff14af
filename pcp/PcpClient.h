// pcp/PcpClient.h — Qt-free; one object holds one PCP socket toward one router and all PCP state
// (no globals), so several clients can live side by side. Not thread-safe: one thread per object,
// but for cancel().
#pragma once

#include "pcp_wire.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <random>
#include <string>

struct PcpTimings {
    // The first retransmission after about this (RFC 6887 starts at 3 s; a search needs its
    // verdict sooner); each later wait doubles, up to max_retry_ms, each drawn within +-10 %.
    int first_retry_ms = 500;
    int max_retry_ms = 1024 * 1000;
    int max_transmissions = 3; // a request goes out at most this many times
};

// What the router granted.
struct PcpMapping {
    uint8_t protocol = 0;
    uint16_t internal_port = 0;
    uint16_t external_port = 0;
    std::string external_address; // dotted, or IPv6 text for a pinhole
    uint32_t lifetime = 0;        // seconds
};

class PcpClient {
  public:
    explicit PcpClient(PcpTimings timings = {});
    ~PcpClient();
    PcpClient(const PcpClient&) = delete;
    PcpClient& operator=(const PcpClient&) = delete;

    void set_timings(const PcpTimings& timings) { timings_ = timings; }
    // (Re)opens the socket toward `gateway` (numeric IPv4 or IPv6, "fe80::1%eth0" for a
    // link-local one), sent from `source` when given (a request must leave from the address it
    // maps: a pinhole's global IPv6 address, not the link-local one the system would pick toward
    // a link-local router). 0, or INVALID_ARGUMENTS, SOCKET_ERROR. `port`: tests only.
    int open(const std::string& gateway, const std::string& source = "",
             uint16_t port = pcp_wire::kServerPort);
    void close();
    bool is_open() const { return socket_ >= 0; }
    std::string gateway() const { return gateway_; }
    // The address requests leave from, as the router sees it ("" when not open).
    std::string local_address() const;

    // Each request: sent, retransmitted up to max_transmissions, answered or given up. Returns
    // pcp_wire::SUCCESS, the router's result code (UNSUPP_VERSION: it speaks NAT-PMP only), or a
    // negative pcp_wire::Result of this side (NO_ANSWER after the last transmission, also when
    // cancelled). Only an answer from the gateway's address and port counts, of PCP's version,
    // whole, echoing the request's opcode (and a mapping's nonce, protocol and internal port).
    int announce();
    // `request.lifetime` 0 deletes the mapping; its nonce must be the one it was made with.
    int map(const pcp_wire::MapRequest& request, PcpMapping& granted);

    // The router's epoch from its answers (and its announcements, handed in by the caller): how
    // many times it showed that the router restarted, and so lost its mappings.
    int restarts() const { return restarts_; }
    uint32_t epoch() const { return epoch_.last(); }
    // False when the router restarted (counted in restarts()).
    bool note_epoch(uint32_t epoch);
    // The protocol version of the latest answer (0 from a NAT-PMP-only router).
    int answered_version() const { return answered_version_; }

    // Ends the request in hand, and every later one until resume(), at once with NO_ANSWER.
    // Safe from any thread.
    void cancel();
    void resume();

    // optional: each transmission's bytes, in hex
    std::function<void(const std::string&)> log_request;

  private:
    int exchange(const std::string& request, const pcp_wire::Expected& expected,
                 pcp_wire::Answer& answer);
    int transmit(const std::string& request, int number);
    // The next datagram that answers the request: its verdict, or NO_ANSWER when none waits.
    int take_answer(const pcp_wire::Expected& expected, pcp_wire::Answer& answer);
    void drain();

    PcpTimings timings_;
    std::atomic<bool> cancelled_{false};
    int wake_[2] = {-1, -1}; // cancel() writes here, which wakes a wait in poll()
    int socket_ = -1;
    std::string gateway_;
    unsigned char peer_[28] = {}; // the gateway's sockaddr_in or sockaddr_in6
    unsigned peer_size_ = 0;
    pcp_wire::Address local_{};
    pcp_wire::Epoch epoch_;
    int restarts_ = 0;
    int answered_version_ = 0;
    std::minstd_rand draw_;
};
