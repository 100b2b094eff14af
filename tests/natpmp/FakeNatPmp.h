#pragma once

// A NAT-PMP gateway for tests, on loopback only: binds UDP <127.a.b.c>:5351 on an address of its
// own (derived from the pid, so that test programs run side by side never share one), records the
// requests and answers each as scripted. It names 198.51.100.7 as the public address. A datagram
// equal to the one before is the same request again (until it is answered): its transmissions
// are counted from 1.

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct NatPmpScript {
    int answer_nth = 1;                // the transmission answered (1: the first); 0: none
    std::vector<std::string> raw = {}; // sent instead of the answer, one datagram each
    uint16_t public_port = 0;          // granted; 0: the one asked
    uint32_t lifetime = 0;             // granted; 0: the one asked
    int delay_ms = 0;                  // from the request to the first datagram
};

class FakeNatPmp {
  public:
    explicit FakeNatPmp(NatPmpScript script = {});
    ~FakeNatPmp();
    std::vector<std::string> requests() const {
        std::scoped_lock lock(mutex_);
        return requests_;
    }
    std::string address;      // the dotted address it listens on
    std::atomic<int> sent{0}; // datagrams sent so far

  private:
    void serve();
    int socket_;
    const NatPmpScript script_;
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    int nth_ = 0;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
