#include "AppHarness.h"

#include "UpnpNat.h"
#include "log.h"

#include <fstream>
#include <sstream>
#include <unistd.h>

int FakeNatPmp::initnatpmp(natpmp_t* p, int, in_addr_t) {
    ++inits;
    *p = natpmp_t{};
    p->s = init_result != 0 ? -1 : 7; // never read: the fake's select() decides readiness
    return init_result;
}

void FakeNatPmp::startRequest(natpmp_t* p) {
    p->has_pending_request = 1;
    p->try_number = 0;
    deadline_ms_ = now_ms + 250;
    sent_ = 1;
    ++transmissions;
}

int FakeNatPmp::sendpublicaddressrequest(natpmp_t* p) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_mapping_ = false;
    if (send_result == 2)
        startRequest(p);
    return send_result;
}

int FakeNatPmp::sendnewportmappingrequest(natpmp_t* p, int protocol, uint16_t privateport,
                                          uint16_t publicport, uint32_t lifetime) {
    std::lock_guard<std::mutex> lock(mutex_);
    pending_mapping_ = true;
    mapping_requests_.push_back({protocol, privateport, publicport, static_cast<int>(lifetime)});
    startRequest(p);
    return 12;
}

int FakeNatPmp::getnatpmprequesttimeout(natpmp_t*, struct timeval* timeout) {
    std::lock_guard<std::mutex> lock(mutex_);
    const long long left = deadline_ms_ - now_ms;
    timeout->tv_sec = left / 1000;
    timeout->tv_usec = (left % 1000) * 1000;
    return 0;
}

int FakeNatPmp::select(int, fd_set*, struct timeval* timeout) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (answered())
        return 1;
    now_ms += timeout->tv_sec * 1000 + timeout->tv_usec / 1000;
    return 0;
}

int FakeNatPmp::readnatpmpresponseorretry(natpmp_t* p, natpmpresp_t* response) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (read_error != 0)
        return read_error;
    if (answered()) {
        p->has_pending_request = 0;
        *response = natpmpresp_t{};
        if (pending_mapping_ && mapping_requests_.back().lifetime != 0) { // lifetime 0 removes
            const MappingRequest& asked = mapping_requests_.back();
            response->pnu.newportmapping.mappedpublicport =
                static_cast<uint16_t>(asked.private_port + public_port_offset);
            response->pnu.newportmapping.lifetime = granted_lifetime;
        }
        return 0;
    }
    if (now_ms < deadline_ms_)
        return NATPMP_TRYAGAIN;
    if (++p->try_number >= 9)
        return NATPMP_ERR_NOGATEWAYSUPPORT;
    deadline_ms_ += 250LL << (p->try_number - 1);
    ++sent_;
    ++transmissions;
    return NATPMP_TRYAGAIN;
}

AppHarness::AppHarness() {
    QStandardPaths::setTestModeEnabled(true);
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    router_found = false;
    apple_router = false;
    // The client talks to the fake router only, with limits short enough for tests.
    upnp_nat.ssdp_address = "127.0.0.1";
    upnp_nat.ssdp_port = gateway.ssdp_port();
    upnp_nat.timings = {300, 5, 300, 25, 5}; // connect, pause, read, SSDP wait, SSDP idle
    upnp_nat.control_url.clear();
    upnp_nat.friendly_name.clear();
    set_log_observer([this](const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        logs_.append(QString::fromStdString(line));
    });
    app = std::make_unique<myApp>(natpmp);
    app->hooks() = {[this] { ++terminations; }, [this](int status) { exits.append(status); },
                    [this] { ++beeps; }};
}

AppHarness::~AppHarness() {
    app.reset();
    set_log_observer({});
}

void AppHarness::start() {
    QVERIFY(app->bindInterface(ui.windows()));
    app->awakeFromNib();
}

bool AppHarness::startWithGateway(std::vector<fakegw::Entry> entries) {
    const int count = static_cast<int>(entries.size());
    gateway.set_entries(std::move(entries));
    start();
    return waitIdle() && router_found && app->numberOfRowsInTableView() == count;
}

bool AppHarness::startWithAirPort() {
    gateway.set_ssdp_answers({});
    natpmp.answer_on_transmission = 1;
    start();
    return waitIdle() && apple_router;
}

bool AppHarness::waitIdle(int timeoutMs) {
    return QTest::qWaitFor(
        [this] {
            if (app->backgroundWorkRunning())
                return false;
            QCoreApplication::processEvents();
            return !app->backgroundWorkRunning();
        },
        timeoutMs);
}

QStringList AppHarness::logs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return logs_;
}

void AppHarness::clearLogs() {
    std::lock_guard<std::mutex> lock(mutex_);
    logs_.clear();
}

QStringList AppHarness::row(int index) const {
    QStringList cells;
    for (const char* identifier : {"Name", "Listen_port", "Protocol", "IP"})
        cells << app->objectValueForTableColumn(QLatin1String(identifier), index).toString();
    return cells;
}

QString AppHarness::addThroughDialog(const QString& mappingName, const QString& portText,
                                     const QString& address, const QString& protocolText,
                                     std::function<void()> inspect) {
    auto problem = std::make_shared<QString>(QStringLiteral("(no dialog)"));
    myApp& a = *app;
    whenReady(
        [&a] { return a.add_windows->isVisible(); },
        [=, &a] {
            if (inspect)
                inspect();
            a.name->setText(mappingName);
            a.port->setText(portText);
            if (!a.internal_ip->isReadOnly())
                a.internal_ip->setText(address);
            a.protocol->setCurrentText(protocolText);
            problem->clear();
            a.add_windows_ok_button->click();
            whenReady(
                [&a] { return !a.add_windows->isVisible() || !a.add_error->text().isEmpty(); },
                [problem, &a] {
                    if (!a.add_windows->isVisible())
                        return;
                    *problem = a.add_error->text();
                    a.add_windows_cancel_button->click();
                });
        });
    app->add_port_entry();
    QTest::qWait(20); // lets the last poll see the closed dialog and end
    return *problem;
}

void whenReady(std::function<bool()> condition, std::function<void()> action) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, condition, action] {
        if (!condition())
            return;
        timer->stop();
        timer->deleteLater();
        action();
    });
    timer->start();
}

StdoutCapture::StdoutCapture() {
    std::fflush(stdout);
    char name[] = "/tmp/quaymap-stdout-XXXXXX";
    const int fd = mkstemp(name);
    path_ = name;
    saved_ = dup(STDOUT_FILENO);
    dup2(fd, STDOUT_FILENO);
    ::close(fd);
}

std::string StdoutCapture::take() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
    std::ifstream in(path_);
    std::stringstream text;
    text << in.rdbuf();
    unlink(path_.c_str());
    return text.str();
}
