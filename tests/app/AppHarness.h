// The application's real controller and windows, offscreen, wired to a fake router on loopback
// and a fake NAT-PMP gateway, with the controller's ways out of the process replaced by
// recorders.
#pragma once

#include "DSClickableURLTextField.h"
#include "FakeGateway.h"
#include "Interface.h"
#include "NatPmp.h"
#include "RouterState.h"
#include "myApp.h"

#include <QtTest>
#include <QtWidgets>
#include <atomic>
#include <mutex>

// A NAT-PMP gateway behind the application's seam, with a clock of its own. It keeps the handle
// the way libnatpmp does: a first deadline 250 ms after a request, a retransmission each time a
// read finds the deadline passed (the delay doubling each time), and giving up with
// NATPMP_ERR_NOGATEWAYSUPPORT once the retry counter reaches nine. Waiting in select() advances
// the clock instead of sleeping.
class FakeNatPmp : public NatPmpApi {
  public:
    struct MappingRequest {
        int protocol, private_port, public_port, lifetime;
        bool operator==(const MappingRequest& o) const {
            return protocol == o.protocol && private_port == o.private_port &&
                   public_port == o.public_port && lifetime == o.lifetime;
        }
    };
    // Script.
    std::atomic<int> init_result{0};            // initnatpmp's answer (non-zero: no gateway)
    std::atomic<int> send_result{2};            // sendpublicaddressrequest's answer
    std::atomic<int> answer_on_transmission{0}; // the transmission that is answered; 0: never
    std::atomic<int> read_error{0};             // non-zero: every read fails with this result
    uint16_t public_port_offset = 0;            // granted public port = private port + this
    uint32_t granted_lifetime = 7200;
    // Observations.
    std::atomic<int> transmissions{0}, inits{0};
    std::atomic<long long> now_ms{0};
    std::vector<MappingRequest> mapping_requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return mapping_requests_;
    }

    int initnatpmp(natpmp_t* p, int forcegw, in_addr_t forcedgw) override;
    int closenatpmp(natpmp_t* p) override {
        p->s = -1;
        return 0;
    }
    int sendpublicaddressrequest(natpmp_t* p) override;
    int sendnewportmappingrequest(natpmp_t* p, int protocol, uint16_t privateport,
                                  uint16_t publicport, uint32_t lifetime) override;
    int getnatpmprequesttimeout(natpmp_t* p, struct timeval* timeout) override;
    int readnatpmpresponseorretry(natpmp_t* p, natpmpresp_t* response) override;
    int select(int nfds, fd_set* readfds, struct timeval* timeout) override;

  private:
    void startRequest(natpmp_t* p);
    bool answered() const { return answer_on_transmission > 0 && sent_ >= answer_on_transmission; }

    mutable std::mutex mutex_;
    long long deadline_ms_ = 0;
    int sent_ = 0; // transmissions of the request in hand
    bool pending_mapping_ = false;
    std::vector<MappingRequest> mapping_requests_;
};

class AppHarness {
  public:
    AppHarness();
    ~AppHarness();

    // Binds the windows and runs awakeFromNib, which starts the search.
    void start();
    // Starts against a UPnP gateway holding these mappings; true once the whole table shows.
    bool startWithGateway(std::vector<fakegw::Entry> entries);
    // Starts against a NAT-PMP base station that answers at once; true once it is found.
    bool startWithAirPort();
    // Waits until no thread runs and what they posted to the main thread has been done.
    bool waitIdle(int timeoutMs = 10000);

    QStringList logs() const;
    void clearLogs();
    // One table row's cells: Name, Listen_port, Protocol, IP.
    QStringList row(int index) const;
    // Fills the add dialog once it shows (after inspect()), presses OK and returns when the
    // dialog has closed: "" on success, else the problem shown (and the dialog is cancelled).
    QString addThroughDialog(const QString& mappingName, const QString& portText,
                             const QString& address, const QString& protocolText,
                             std::function<void()> inspect = {});

    fakegw::FakeGateway gateway;
    FakeNatPmp natpmp;
    Interface ui;
    std::unique_ptr<myApp> app;
    int beeps = 0, terminations = 0;
    QList<int> exits;

  private:
    mutable std::mutex mutex_;
    QStringList logs_;
};

inline bool shown(const QWidget* widget) {
    return widget->isVisibleTo(widget->window());
}
inline bool spinning(const QProgressBar* bar) {
    return shown(bar) && bar->maximum() == 0;
}

// Runs the action from the event loop as soon as the condition holds, also inside a modal run.
void whenReady(std::function<bool()> condition, std::function<void()> action);

// Collects what is written to standard output from its construction until take().
class StdoutCapture {
  public:
    StdoutCapture();
    std::string take();

  private:
    int saved_ = -1;
    std::string path_;
};
