// The engine over the real protocols: the UPnP client and the NAT-PMP client.
#pragma once

#include "Engine.h"
#include "NatPmpClient.h"
#include "UpnpNat.h"

#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace quaymap {

class RouterEngine : public Engine {
  public:
    // The process-wide UPnP client by default; tests hand in one of their own.
    explicit RouterEngine(UpnpNat& upnp = upnp_nat);
    ~RouterEngine() override;
    RouterEngine(const RouterEngine&) = delete;
    RouterEngine& operator=(const RouterEngine&) = delete;

    // The two clients, for their settings (where the search goes, time limits) before a search.
    UpnpNat& upnp() { return upnp_; }
    NatPmpClient& natpmp() { return natpmp_; }

    // Asked between the exchanges of one command (an add and its lookup): once it answers true,
    // no further exchange starts and the command ends with what it has.
    void set_stop_check(std::function<bool()> check) { stop_check_ = std::move(check); }

    SearchOutcome search(const SearchOptions& options) override;
    SearchOutcome choose(std::size_t index) override;
    CommandResult list(const RowSink& row) override;
    CommandResult add(const AddRequest& request) override;
    CommandResult remove(const MappingRecord& row) override;
    CommandResult public_address() override;
    CommandResult renew(const MappingRecord& row) override;

  private:
    // NAT-PMP is asked while SSDP runs; an IGD answer makes its answer moot.
    void start_natpmp_probe();
    int finish_natpmp_probe(bool wanted);
    bool find_igd(const SearchOptions& options);
    // The outcome of the IGD the UPnP client now acts on; its public address read when asked.
    SearchOutcome igd_outcome(bool read_public_address);
    void settle(const SearchOutcome& outcome);

    CommandResult add_upnp(const AddRequest& request, const std::string& client);
    CommandResult add_natpmp(const AddRequest& request);
    // The verdict of the UPnP client's latest failed operation.
    CommandResult upnp_failure(const std::string& what, const std::string& port_protocol = {},
                               const MappingRecord* holder = nullptr,
                               const std::string& client = {});
    CommandResult natpmp_failure(const std::string& what, int result);
    RouterKind kind() const;
    std::string router_address() const;
    std::string lan_address() const;

    bool stopping() const { return stop_check_ && stop_check_(); }

    UpnpNat& upnp_;
    NatPmpClient natpmp_;
    std::function<bool()> stop_check_;
    // One lock per client, taken for each exchange (or each step of a listing), never for a
    // whole search or a whole table: a command waits at most one exchange.
    std::mutex upnp_mutex_;
    std::mutex natpmp_mutex_;
    // Listings share the client's list: one at a time.
    std::mutex list_mutex_;

    // The router of the latest search.
    mutable std::mutex state_mutex_;
    RouterKind kind_ = RouterKind::none;
    std::string router_;
    std::string lan_address_;

    std::thread probe_;
    int probe_result_ = 0;
    std::string probe_address_;
};

} // namespace quaymap
