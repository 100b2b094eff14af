// Telling systemd how a service of Type=notify is doing: one datagram of "KEY=value" lines to
// $NOTIFY_SOCKET, as sd_notify(3) documents the protocol. Nothing happens outside such a service.
#pragma once

#include <chrono>
#include <string>

namespace quaymap_cli {

class ServiceNotice {
  public:
    // Reads NOTIFY_SOCKET, WATCHDOG_USEC and WATCHDOG_PID.
    ServiceNotice();

    void ready(const std::string& status);
    // Only when it changed.
    void status(const std::string& status);
    void stopping();
    // How often the watchdog wants WATCHDOG=1 at the most; zero when it wants none.
    std::chrono::milliseconds watchdog_every() const { return watchdog_; }
    void watchdog();

  private:
    void send(const std::string& text) const;

    std::string socket_;
    std::chrono::milliseconds watchdog_{0};
    std::string status_;
};

} // namespace quaymap_cli
