// The application's real controller and windows, offscreen, wired to a fake router on loopback
// and a fake NAT-PMP gateway, with the controller's ways out of the process replaced by
// recorders.
#pragma once

#include "DSClickableURLTextField.h"
#include "FakeGateway.h"
#include "Interface.h"
#include "NatPmp.h"
#include "RouterState.h"
#include "log.h"
#include "myApp.h"

#include <QtTest>
#include <QtWidgets>
#include <atomic>
#include <mutex>
#include <unistd.h>

// A NAT-PMP gateway behind the application's seam, with a clock of its own. It keeps the handle
// the way libnatpmp does: a first deadline 250 ms after a request, a retransmission each time a
// read finds the deadline passed (the delay doubling each time), and giving up with
// NATPMP_ERR_NOGATEWAYSUPPORT once the retry counter reaches nine. Waiting in select() advances
// the clock instead of sleeping.
class FakeNatPmp : public NatPmpApi {
  public:
    // Script.
    std::atomic<int> init_result{0};            // initnatpmp's answer (non-zero: no gateway)
    std::atomic<int> send_result{2};            // sendpublicaddressrequest's answer
    std::atomic<int> answer_on_transmission{0}; // the transmission that is answered; 0: never
    std::atomic<int> read_error{0};             // non-zero: every read fails with this result
    uint16_t public_port_offset = 0;            // granted public port = private port + this
    uint32_t granted_lifetime = 7200;
    std::atomic<bool> stray_answer{false}; // answers a mapping request as an address request
    // Observations.
    std::atomic<int> transmissions{0}, inits{0};
    std::atomic<long long> now_ms{0};
    // Each as "UDP <private port> <public port> <lifetime>".
    QStringList mapping_requests() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return mapping_requests_;
    }

    int initnatpmp(natpmp_t* p, int, in_addr_t) override {
        ++inits;
        *p = natpmp_t{};
        p->s = init_result != 0 ? -1 : 7; // never read: select() below decides readiness
        return init_result;
    }
    int closenatpmp(natpmp_t* p) override {
        p->s = -1;
        return 0;
    }
    int sendpublicaddressrequest(natpmp_t* p) override {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_mapping_ = false;
        if (send_result == 2)
            startRequest(p);
        return send_result;
    }
    int sendnewportmappingrequest(natpmp_t* p, int protocol, uint16_t privateport,
                                  uint16_t publicport, uint32_t lifetime) override {
        std::lock_guard<std::mutex> lock(mutex_);
        pending_mapping_ = true;
        mapping_requests_ << QStringLiteral("%1 %2 %3 %4")
                                 .arg(protocol == NATPMP_PROTOCOL_UDP ? "UDP" : "TCP")
                                 .arg(privateport)
                                 .arg(publicport)
                                 .arg(lifetime);
        mapping_private_port_ = privateport;
        mapping_protocol_ = protocol;
        startRequest(p);
        return 12;
    }
    int getnatpmprequesttimeout(natpmp_t*, struct timeval* timeout) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const long long left = deadline_ms_ - now_ms;
        *timeout = {left / 1000, (left % 1000) * 1000};
        return 0;
    }
    int select(int, fd_set*, struct timeval* timeout) override {
        std::lock_guard<std::mutex> lock(mutex_);
        if (answered())
            return 1;
        now_ms += timeout->tv_sec * 1000 + timeout->tv_usec / 1000;
        return 0;
    }
    int readnatpmpresponseorretry(natpmp_t* p, natpmpresp_t* response) override;

  private:
    void startRequest(natpmp_t* p) {
        p->has_pending_request = 1;
        p->try_number = 0;
        deadline_ms_ = now_ms + 250;
        sent_ = 1;
        ++transmissions;
    }
    bool answered() const { return answer_on_transmission > 0 && sent_ >= answer_on_transmission; }

    mutable std::mutex mutex_;
    long long deadline_ms_ = 0;
    int sent_ = 0; // transmissions of the request in hand
    bool pending_mapping_ = false;
    QStringList mapping_requests_;
    uint16_t mapping_private_port_ = 0;
    int mapping_protocol_ = 0;
};

class AppHarness {
  public:
    AppHarness();
    ~AppHarness() {
        app.reset();
        set_log_observer({});
    }

    // Binds the windows and runs awakeFromNib, which starts the search.
    void start() {
        QVERIFY(app->bindInterface(ui.windows()));
        app->awakeFromNib();
    }
    // Starts against a UPnP gateway holding these mappings; true once the whole table shows.
    bool startWithGateway(std::vector<fakegw::Entry> entries) {
        const int count = static_cast<int>(entries.size());
        gateway.set_entries(std::move(entries));
        start();
        return waitIdle() && router_found && app->numberOfRowsInTableView() == count;
    }
    // Starts against a NAT-PMP base station that answers at once; true once it is found.
    bool startWithAirPort() {
        gateway.set_ssdp_answers({});
        natpmp.answer_on_transmission = 1;
        start();
        return waitIdle() && apple_router;
    }
    // Waits until no thread runs and what they posted to the main thread has been done.
    bool waitIdle(int timeoutMs = 10000) {
        return QTest::qWaitFor(
            [this] {
                if (app->backgroundWorkRunning())
                    return false;
                QCoreApplication::processEvents();
                return !app->backgroundWorkRunning();
            },
            timeoutMs);
    }

    QStringList logs() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return logs_;
    }
    void clearLogs() {
        std::lock_guard<std::mutex> lock(mutex_);
        logs_.clear();
    }
    // One table row's cells: Name, Listen_port, Protocol, IP.
    QStringList row(int index) const {
        QStringList cells;
        for (const char* identifier : {"Name", "Listen_port", "Protocol", "IP"})
            cells << app->objectValueForTableColumn(identifier, index).toString();
        return cells;
    }
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
    StdoutCapture() {
        std::fflush(stdout);
        file_.open();
        dup2(file_.handle(), STDOUT_FILENO);
    }
    std::string take() {
        std::fflush(stdout);
        dup2(saved_, STDOUT_FILENO);
        ::close(saved_);
        file_.seek(0);
        return file_.readAll().toStdString();
    }

  private:
    int saved_ = dup(STDOUT_FILENO);
    QTemporaryFile file_;
};
