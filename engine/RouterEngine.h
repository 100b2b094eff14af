// The engine over the real routers: the search asks every protocol at once and settles on one
// gateway, which every command then goes to.
#pragma once

#include "EngineSettings.h"
#include "NatPmpClient.h"
#include "UpnpNat.h"
#include "gateway/Gateway.h"

#include <memory>
#include <mutex>
#include <string>
#include <thread>

namespace quaymap {

class RouterEngine : public Engine {
  public:
    // The process-wide UPnP client by default; tests hand in one of their own.
    explicit RouterEngine(UpnpNat& upnp = upnp_nat, EngineSettings settings = {});
    ~RouterEngine() override;
    RouterEngine(const RouterEngine&) = delete;
    RouterEngine& operator=(const RouterEngine&) = delete;

    // The two clients, for tests: where the search goes and how long it waits.
    UpnpNat& upnp() { return upnp_; }
    NatPmpClient& natpmp() { return natpmp_; }

    SearchOutcome search(const SearchOptions& options) override;
    SearchOutcome choose(std::size_t index) override;
    CommandResult list(const RowSink& row) override;
    CommandResult add(const AddRequest& request) override;
    CommandResult remove(const Mapping& row) override;
    CommandResult public_address() override;
    CommandResult renew(const Mapping& row) override;

  private:
    // NAT-PMP is asked while SSDP runs; an IGD answer makes its answer moot.
    void start_natpmp_probe();
    int finish_natpmp_probe(bool wanted);
    bool find_igd();
    // The outcome of the IGD the UPnP client now acts on; its public address read when asked.
    SearchOutcome igd_outcome(bool read_public_address);
    // The gateway of an outcome, which every command goes to from now on.
    void settle(const SearchOutcome& outcome);
    std::shared_ptr<Gateway> gateway() const;
    std::string this_computer() const;
    bool stopping() const;

    const EngineSettings settings_;
    UpnpNat& upnp_;
    NatPmpClient natpmp_;
    std::mutex upnp_mutex_;   // guards upnp_, taken for one exchange (or listing step) at a time
    std::mutex natpmp_mutex_; // guards natpmp_, likewise; the probe holds it for its request

    mutable std::mutex state_mutex_;   // guards the two below
    std::shared_ptr<Gateway> gateway_; // the latest search's router; null when none was found
    std::string this_computer_;        // this computer's address on that router's network

    std::thread probe_;         // the NAT-PMP probe of a search, joined before the next
    int probe_result_ = 0;      // written by the probe, read once it is joined
    std::string probe_address_; // likewise
};

} // namespace quaymap
