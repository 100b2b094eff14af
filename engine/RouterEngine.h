// The engine over the real routers: the search asks every protocol at once and settles on one
// gateway, which every command then goes to.
#pragma once

#include "EngineSettings.h"
#include "NatPmpClient.h"
#include "UpnpNat.h"
#include "gateway/Gateway.h"
#include "record.h"

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
    std::vector<RecordEntry> recorded() override;
    CommandResult check(const Mapping& row) override;
    int announcements() override;
    bool restarted(std::string& why) override;

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
    // A confirmed add (`asked` given) or renewal: the record holds the mapping as the router now
    // does; a renewal keeps what the entry said of its keeping.
    void note_made(const Gateway& router, const Mapping& row, const AddRequest* asked);
    void note_deleted(const Gateway& router, const Mapping& row);

    const EngineSettings settings_;
    const Record record_; // takes its own lock, a file's, for each change
    UpnpNat& upnp_;
    NatPmpClient natpmp_;
    // Each guards its client, taken for one exchange (or one step of a listing) at a time, so a
    // command waits at most one exchange; the probe holds the NAT-PMP one for its request.
    std::mutex upnp_mutex_;
    std::mutex natpmp_mutex_;

    // Guards the two below; taken last, for a moment, never around an exchange.
    mutable std::mutex state_mutex_;
    std::shared_ptr<Gateway> gateway_; // the latest search's router; null when none was found
    std::string this_computer_;        // this computer's address on that router's network

    std::thread probe_;         // the NAT-PMP probe of a search, joined before the next
    int probe_result_ = 0;      // written by the probe, read once it is joined
    std::string probe_address_; // likewise
};

} // namespace quaymap
