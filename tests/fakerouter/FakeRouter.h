#pragma once

// A scripted home router for tests on 127.0.0.1 (ephemeral ports): an SSDP responder (UDP) and
// an HTTP server (TCP, connections one after the other), each on its own thread. The newest rule
// whose patterns all stand in a datagram or request answers it; else a request gets HTTP 500
// with UPnP error 714 NoSuchEntryInArray, a datagram nothing. All received is recorded. E.g.:
//   fakerouter::FakeRouter router;
//   router.on_ssdp({{"M-SEARCH"}, router.file("ssdp-answer.txt", {{"@LOCATION@", url}})});
//   router.on_http({{"GET /rootDesc.xml"}, fakerouter::http(router.file("rootDesc.xml"))});

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace fakerouter {

struct Rule {
    std::vector<std::string> patterns;  // substrings the request must all contain (none: any)
    std::string answer;                 // the bytes sent back (HTTP: status line included)
    int delay_ms = 0;                   // pause before the first byte
    bool hang = false;                  // HTTP: never answer; held until the client leaves
    std::size_t close_after = SIZE_MAX; // HTTP: send only this many bytes, then close
    std::size_t piece = 0;              // HTTP: when set, the answer goes in writes this long
    int gap_ms = 0;                     // HTTP: pause between two writes
};

// An HTTP answer: the status line, Content-Length, "Connection: close", then `body`.
std::string http(const std::string& body, const std::string& status = "200 OK");

class FakeRouter {
  public:
    FakeRouter();
    ~FakeRouter();
    uint16_t ssdp_port() const { return ssdp_port_; }
    uint16_t http_port() const { return http_port_; }
    std::string url(const std::string& path) const { return base_ + path; }
    // A file of tests/data with "@PORT@" replaced by http_port() and each key of `fill`
    // (e.g. "@CODE@") by its value.
    std::string file(const std::string& name, std::map<std::string, std::string> fill = {}) const;
    void on_http(const Rule& rule) { add(http_rules_, rule); }
    void on_ssdp(const Rule& rule) { add(ssdp_rules_, rule); }
    // Each HTTP request whole (header and body), and each SSDP datagram, in arrival order.
    std::vector<std::string> requests() const { return copy(requests_); }
    std::vector<std::string> datagrams() const { return copy(datagrams_); }
    // Closes the HTTP listener: from its return on, connections are refused.
    void stop();

  private:
    void add(std::vector<Rule>& rules, const Rule& rule);
    std::vector<std::string> copy(const std::vector<std::string>& texts) const;
    // Records `text` in `seen`; true when a rule of `rules` answers it.
    bool record(std::vector<std::string>& seen, const std::vector<Rule>& rules,
                const std::string& text, Rule& found);
    void serve_ssdp();
    void serve_http();
    bool nap(int ms) const; // false once the router is closing

    uint16_t ssdp_port_ = 0, http_port_ = 0; // before the sockets, whose opening sets them
    int udp_ = -1, listener_ = -1;
    std::string base_; // "http://127.0.0.1:<http port>"
    std::atomic<bool> closing_{false};
    mutable std::mutex mutex_;
    std::vector<Rule> http_rules_, ssdp_rules_;
    std::vector<std::string> requests_, datagrams_;
    std::thread ssdp_thread_, http_thread_;
};

} // namespace fakerouter
