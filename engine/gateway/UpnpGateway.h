// A UPnP Internet Gateway Device (version 1 or 2), over the process's UPnP client.
#pragma once

#include "Announcements.h"
#include "Gateway.h"
#include "UpnpNat.h"

#include <functional>
#include <mutex>

namespace quaymap {

class UpnpGateway : public Gateway {
  public:
    // The router as the search found it.
    struct Found {
        RouterKind kind = RouterKind::igd1;
        std::string address;       // the router's, for the words of a failure
        std::string udn;           // its device's; empty: none
        std::string boot_id;       // of its search answer; empty: none
        std::string this_computer; // where its announcements are heard
        std::string notify_group;  // and to which group and port they go
        uint16_t notify_port = 0;
    };
    // `client_lock` guards `client` for the whole process; `stopping` tells that no further
    // exchange may start.
    UpnpGateway(UpnpNat& client, std::mutex& client_lock, Found found,
                std::function<bool()> stopping);

    RouterKind kind() const override { return found_.kind; }
    Abilities abilities() const override { return {true, true, false}; }
    std::string identity() const override {
        return found_.udn.empty() ? found_.address : found_.udn;
    }
    CommandResult list(const RowSink& row) override;
    CommandResult add(const AddRequest& request) override;
    CommandResult remove(const Mapping& row) override;
    CommandResult renew(const Mapping& row) override;
    CommandResult public_address() override;
    CommandResult check(const Mapping& row) override;
    int announcements() override;
    bool restarted(std::string& why) override;

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
    const Found found_;
    const std::string& address_ = found_.address;
    const std::function<bool()> stopping_;
    // Guards the three below; never taken with the client's lock.
    std::mutex signs_;
    Announcements announced_;
    std::string boot_id_;      // the latest the router announced
    bool said_byebye_ = false; // it announced that it stops
};

} // namespace quaymap
