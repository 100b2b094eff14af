#include "AppHarness.h"

#include "RouterState.h"
#include "UpnpNat.h"
#include "log.h"

#include <QDir>
#include <QStandardPaths>
#include <QTest>
#include <QTimer>
#include <cstdio>
#include <fcntl.h>
#include <fstream>
#include <sstream>
#include <unistd.h>

AppHarness::AppHarness() {
    QStandardPaths::setTestModeEnabled(true);
    QDir().mkpath(QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));
    router_found = false;
    apple_router = false;
    // The client talks to the fake router only, with limits short enough for tests.
    upnp_nat.ssdp_address = "127.0.0.1";
    upnp_nat.ssdp_port = gateway.ssdp_port();
    upnp_nat.timings.connect_timeout_ms = 300;
    upnp_nat.timings.connect_pause_ms = 5;
    upnp_nat.timings.read_wait_ms = 300;
    upnp_nat.timings.ssdp_wait_ms = 25;
    upnp_nat.timings.ssdp_idle_ms = 5;
    upnp_nat.control_url.clear();
    upnp_nat.friendly_name.clear();
    set_log_observer([this](const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex_);
        logs_.append(QString::fromStdString(line));
    });
    app = std::make_unique<myApp>(natpmp);
    app->hooks().terminate = [this] { ++terminations; };
    app->hooks().exitProcess = [this](int status) { exits.append(status); };
    app->hooks().beep = [this] { ++beeps; };
}

AppHarness::~AppHarness() {
    app.reset();
    set_log_observer({});
}

void AppHarness::start() {
    QVERIFY(app->bindInterface(ui.windows()));
    app->awakeFromNib();
}

bool AppHarness::waitIdle(int timeoutMs) {
    return QTest::qWaitFor([this] { return !app->backgroundWorkRunning(); }, timeoutMs);
}

QStringList AppHarness::logs() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return logs_;
}

int AppHarness::countLogged(const QString& line) const {
    return logs().count(line);
}

void AppHarness::clearLogs() {
    std::lock_guard<std::mutex> lock(mutex_);
    logs_.clear();
}

fakegw::Entry mapping(const std::string& external_port, const std::string& protocol,
                      const std::string& internal_port, const std::string& internal_client,
                      const std::string& description) {
    fakegw::Entry entry;
    entry.external_port = external_port;
    entry.protocol = protocol;
    entry.internal_port = internal_port;
    entry.internal_client = internal_client;
    entry.description = description;
    return entry;
}

void silenceUpnp(fakegw::FakeGateway& gateway) {
    gateway.set_ssdp_answers({});
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

void StdoutCapture::start() {
    std::fflush(stdout);
    char name[] = "/tmp/quaymap-stdout-XXXXXX";
    const int fd = mkstemp(name);
    path_ = name;
    saved_ = dup(STDOUT_FILENO);
    dup2(fd, STDOUT_FILENO);
    ::close(fd);
}

std::string StdoutCapture::stop() {
    std::fflush(stdout);
    dup2(saved_, STDOUT_FILENO);
    ::close(saved_);
    std::ifstream in(path_);
    std::stringstream text;
    text << in.rdbuf();
    unlink(path_.c_str());
    return text.str();
}
