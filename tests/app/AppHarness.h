// The application's real controller and windows, offscreen, wired to a fake router on loopback
// and a fake NAT-PMP gateway, with the controller's ways out of the process replaced by
// recorders.
#pragma once

#include "FakeGateway.h"
#include "FakeNatPmp.h"
#include "Interface.h"
#include "myApp.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

class AppHarness {
  public:
    AppHarness();
    ~AppHarness();

    // Binds the windows and runs awakeFromNib, which starts the search.
    void start();
    // Waits until no search or router operation is running.
    bool waitIdle(int timeoutMs = 10000);

    QStringList logs() const;
    int countLogged(const QString& line) const;
    void clearLogs();

    fakegw::FakeGateway gateway;
    FakeNatPmp natpmp;
    Interface ui;
    std::unique_ptr<myApp> app;
    int beeps = 0;
    int terminations = 0;
    QList<int> exits;

  private:
    mutable std::mutex mutex_;
    QStringList logs_;
};

// One mapping held by the fake router.
fakegw::Entry mapping(const std::string& external_port, const std::string& protocol,
                      const std::string& internal_port, const std::string& internal_client,
                      const std::string& description);

// A gateway answer for the fake router: no SSDP answer at all, so that discovery fails.
void silenceUpnp(fakegw::FakeGateway& gateway);

// Runs the action from the event loop as soon as the condition holds, also inside a modal run.
void whenReady(std::function<bool()> condition, std::function<void()> action);

// Collects what is written to standard output between start() and stop().
class StdoutCapture {
  public:
    void start();
    std::string stop();

  private:
    int saved_ = -1;
    std::string path_;
};
