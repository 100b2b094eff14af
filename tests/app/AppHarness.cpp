#include "AppHarness.h"

#include "UpnpNat.h"

int FakeNatPmp::readnatpmpresponseorretry(natpmp_t* p, natpmpresp_t* response) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (read_error != 0)
        return read_error;
    if (answered()) {
        p->has_pending_request = 0;
        *response = natpmpresp_t{};
        if (pending_mapping_ && !stray_answer)
            response->type = natpmp_mapping_answer_type(mapping_protocol_);
        if (pending_mapping_ && !mapping_requests_.last().endsWith(" 0")) { // lifetime 0 removes
            response->pnu.newportmapping.mappedpublicport =
                static_cast<uint16_t>(mapping_private_port_ + public_port_offset);
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
