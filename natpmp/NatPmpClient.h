// natpmp/NatPmpClient.h — Qt-free; one object owns one libnatpmp handle and all NAT-PMP state (no
// globals), so several clients can live side by side. Not thread-safe: one thread per object.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <natpmp.h>
#include <string>

struct NatPmpTimings {
    int first_retry_ms = 250;  // first retransmission after this; the delay doubles after each
    int max_transmissions = 3; // a request goes out at most this many times
};

// The epoch of an unsolicited announcement to 224.0.0.1:5350: a NAT-PMP public address
// announcement (version 0) or a PCP ANNOUNCE (version 2), which a gateway sends as it starts;
// false for anything else.
bool announced_epoch(const std::string& datagram, uint32_t& epoch);

struct NatPmpMapping { // what the gateway granted
    int protocol = 0;  // NATPMP_PROTOCOL_TCP / NATPMP_PROTOCOL_UDP
    uint16_t private_port = 0;
    uint16_t public_port = 0;
    uint32_t lifetime = 0; // seconds
};

class NatPmpClient {
  public:
    explicit NatPmpClient(NatPmpTimings timings = {});
    ~NatPmpClient(); // closes the handle
    NatPmpClient(const NatPmpClient&) = delete;
    NatPmpClient& operator=(const NatPmpClient&) = delete;

    // tests: a loopback address instead of the default route's gateway, and shorter waits
    void force_gateway(const std::string& dotted);
    void set_timings(const NatPmpTimings& timings) { timings_ = timings; }
    // Where the gateway's announcements (to 224.0.0.1) are heard; tests: 0, any port.
    uint16_t announce_port = 5350;
    // (re)opens the handle (an earlier one is closed first): 0, or libnatpmp's error (no default
    // gateway, no socket; NATPMP_ERR_INVALIDARGS for a forced address that is not dotted IPv4)
    int open();
    void close();
    bool is_open() const;
    std::string gateway() const; // dotted text of the gateway asked ("" when not open)

    // Each request: sent, retransmitted at most up to max_transmissions, answered or given up.
    // 0: the gateway answered with success; NATPMP_ERR_NOGATEWAYSUPPORT: no valid answer after the
    // last transmission; other negative values: libnatpmp errors, including the gateway's own
    // refusal (NATPMP_ERR_NOTAUTHORIZED, NATPMP_ERR_NETWORKFAILURE, NATPMP_ERR_OUTOFRESOURCES,
    // ...), NATPMP_ERR_SENDERR when a transmission could not go out whole, NATPMP_ERR_RECVFROM
    // when the gateway's host refuses the port outright, NATPMP_ERR_INVALIDARGS when not open.
    int public_address(std::string& address); // dotted text on 0
    int map(int protocol, uint16_t private_port, uint16_t public_port, uint32_t lifetime,
            NatPmpMapping& granted);
    int unmap(int protocol, uint16_t private_port); // lifetime 0, public port 0
    // Renewing is map() again with the granted public port.

    // The gateway's epoch (seconds since it started) comes with every answer and announcement.
    // One that went back, or moved on further than the time since the one before allows, tells
    // that the gateway restarted, which loses every mapping. take_epoch() hears an announced one
    // (answers are heard by the client itself); true when it tells a restart.
    bool take_epoch(uint32_t epoch);
    // Whether a restart was told since the last call, and how (`why`).
    bool restarted(std::string& why);
    // tests: the clock that epochs are measured against
    void set_clock(std::function<std::chrono::steady_clock::time_point()> now) { now_ = now; }

    // Ends the request in hand, and every later one until resume(), at once with
    // NATPMP_ERR_NOGATEWAYSUPPORT. Safe from any thread: a search that has found a UPnP gateway
    // does not wait for a NAT-PMP answer it no longer needs.
    void cancel();
    void resume();

    // the request's progress: "sended public ip address request" once an address request is
    // out, and one call per wait turn: "geted timeout func"; empty: silent
    std::function<void(const std::string&)> log;
    // optional, unused by the search: each transmission's bytes, in hex
    std::function<void(const std::string&)> log_request;

  private:
    // One request and its wait; the public calls differ only in what they send and accept.
    int exchange(int opcode, uint16_t private_port, uint16_t public_port, uint32_t lifetime,
                 natpmpresp_t& answer);
    int transmit(int opcode, uint16_t private_port, uint16_t public_port, uint32_t lifetime,
                 int number);
    int take_answer(int opcode, uint16_t private_port, natpmpresp_t& answer);
    void drain();

    NatPmpTimings timings_;
    // cancel() sets the flag and writes to the pipe, which wakes a wait in poll().
    std::atomic<bool> cancelled_{false};
    int wake_[2] = {-1, -1};
    std::string forced_gateway_;
    natpmp_t handle_{};
    bool open_ = false;
    std::function<std::chrono::steady_clock::time_point()> now_ = std::chrono::steady_clock::now;
    bool has_epoch_ = false;
    uint32_t epoch_ = 0;
    std::chrono::steady_clock::time_point epoch_at_;
    std::string restart_; // how the latest restart untold showed; empty: none
};
