// A NAT-PMP gateway (an AirPort base station): it maps ports for the computer that asks and
// keeps no table to list.
#pragma once

#include "Announcements.h"
#include "Gateway.h"
#include "NatPmpClient.h"

#include <mutex>

namespace quaymap {

class NatPmpGateway : public Gateway {
  public:
    // `client_lock` guards `client`; `this_computer` is the only address a mapping can go to.
    NatPmpGateway(NatPmpClient& client, std::mutex& client_lock, std::string address,
                  std::string this_computer);

    RouterKind kind() const override { return RouterKind::natpmp; }
    Abilities abilities() const override { return {false, false, true}; }
    std::string identity() const override { return address_; }
    CommandResult list(const RowSink& row) override;
    CommandResult add(const AddRequest& request) override;
    CommandResult remove(const Mapping& row) override;
    CommandResult renew(const Mapping& row) override;
    CommandResult public_address() override;
    CommandResult check(const Mapping& row) override;
    int announcements() override;
    bool restarted(std::string& why) override;

  private:
    CommandResult failure(const std::string& what, int code) const;
    int open_announcements(); // the caller holds the client's lock

    NatPmpClient& client_;
    std::mutex& client_lock_;
    const std::string address_;
    const std::string this_computer_;
    Announcements announced_; // guarded by the client's lock, as what it hears changes the client
};

} // namespace quaymap
