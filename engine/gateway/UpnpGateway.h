// A UPnP Internet Gateway Device (version 1 or 2), over the process's UPnP client.
#pragma once

#include "Gateway.h"
#include "UpnpNat.h"

#include <functional>
#include <mutex>

namespace quaymap {

class UpnpGateway : public Gateway {
  public:
    // `client_lock` guards `client` for the whole process; `address` is the router's, for the
    // words of a failure; `udn` its device's (empty: none); `stopping` tells that no further
    // exchange may start.
    UpnpGateway(UpnpNat& client, std::mutex& client_lock, RouterKind kind, std::string address,
                std::string udn, std::function<bool()> stopping);

    RouterKind kind() const override { return kind_; }
    Abilities abilities() const override { return {true, true, false}; }
    std::string identity() const override { return udn_.empty() ? address_ : udn_; }
    CommandResult list(const RowSink& row) override;
    CommandResult add(const AddRequest& request) override;
    CommandResult remove(const Mapping& row) override;
    CommandResult renew(const Mapping& row) override;
    CommandResult public_address() override;

  private:
    // The verdict of the client's latest failed operation; the caller holds the client's lock.
    CommandResult failure(const std::string& what, const std::string& port_protocol = {},
                          const MappingRecord* holder = nullptr, const std::string& client = {});
    CommandResult conflict(const AddRequest& request, const std::string& port_protocol);

    UpnpNat& client_;
    std::mutex& client_lock_;
    // Guards the client's list of mappings for a whole listing: one listing at a time. Taken
    // before the client's lock, never while holding it.
    std::mutex listing_;
    const RouterKind kind_;
    const std::string address_;
    const std::string udn_;
    const std::function<bool()> stopping_;
};

} // namespace quaymap
