// The whole application against the lab's router: the real controller, windows, UPnP client and
// libnatpmp, offscreen, inside the lab's LAN namespace (run through tests/lab/run_lab_tests.sh,
// which brings the lab up in the mode the test names and exports LAB_* variables). The cases
// of one run share one application, started once, as a person would use it.
#include "AppHarness.h"

namespace {

QString run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// Rows as "protocol port client name", from `upnpc -l` (" 0 TCP 25565->192.168.87.20:25565
// 'name' '' 0") or from the application's table.
QStringList routerTable() {
    static const QRegularExpression line(R"(^\s*\d+\s+(TCP|UDP)\s+(\d+)->([\d.]+):\d+\s+'([^']*)')",
                                         QRegularExpression::MultilineOption);
    QStringList rows;
    for (auto it = line.globalMatch(run("upnpc", {"-l"})); it.hasNext();) {
        const auto m = it.next();
        rows << QStringList({m.captured(1), m.captured(2), m.captured(3), m.captured(4)}).join(' ');
    }
    return rows;
}
QStringList appTable(myApp& app) {
    QStringList rows;
    for (int row = 0; row < app.numberOfRowsInTableView(); ++row) {
        QStringList cells;
        for (const char* id : {"Protocol", "Listen_port", "IP", "Name"})
            cells << app.objectValueForTableColumn(id, row).toString();
        rows << cells.join(' ');
    }
    return rows;
}

QString env(const char* name) {
    return qEnvironmentVariable(name);
}

// nft in the router's namespace.
QString routerNft(const QString& command) {
    return run("ip", QStringList{"netns", "exec", "quaymap-router", "nft"} + command.split(' '));
}
int droppedNatPmpRequests() {
    static const QRegularExpression counter(R"(counter packets (\d+))");
    const auto m = counter.match(routerNft("list table inet qm_silence"));
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

} // namespace

class LabTest : public QObject {
    Q_OBJECT

    bool mode(const char* wanted) const { return env("LAB_MODE") == QLatin1String(wanted); }
    // Waits for the error window and hides it, which ends its modal run without a new search.
    bool errorWindowShown(std::function<void()> inspect = {}) {
        bool shown = false;
        whenReady([this] { return app_->err_windows->isVisible(); },
                  [&] {
                      shown = true;
                      if (inspect)
                          inspect();
                      app_->err_windows->hide();
                  });
        return QTest::qWaitFor([&] { return shown; }, 120000);
    }
    // Opens the add dialog, fills it and presses OK; returns when the dialog has closed (a
    // problem shown cancels it).
    void addThroughDialog(const QString& name, const QString& port, const QString& protocol,
                          std::function<void()> inspect) {
        whenReady([this] { return app_->add_windows->isVisible(); },
                  [=] {
                      inspect();
                      QTest::keyClicks(app_->name, name);
                      QTest::keyClicks(app_->port, port);
                      app_->protocol->setCurrentText(protocol);
                      QTest::mouseClick(app_->add_windows_ok_button, Qt::LeftButton);
                      whenReady([this] { return !app_->add_error->text().isEmpty(); },
                                [this] { app_->add_windows_cancel_button->click(); });
                  });
        QTest::mouseClick(app_->add_button, Qt::LeftButton);
    }

    LibNatPmp natpmp_;
    std::unique_ptr<Interface> ui_;
    std::unique_ptr<myApp> app_;
    QElapsedTimer started_;
    std::mutex logMutex_;
    QStringList logs_;

  private slots:
    void initTestCase() {
        if (env("LAB_MODE").isEmpty())
            QSKIP("not inside the lab (run through tests/lab/run_lab_tests.sh)");
        QStandardPaths::setTestModeEnabled(true);
        set_log_observer([this](const std::string& line) {
            std::lock_guard<std::mutex> lock(logMutex_);
            logs_.append(QString::fromStdString(line));
        });
        // A drop rule with a counter for NAT-PMP requests: a gateway that neither answers nor
        // refuses.
        if (mode("none") && qApp->arguments().contains("silentGatewayGetsThreeRequests")) {
            routerNft("add table inet qm_silence");
            routerNft("add chain inet qm_silence input { type filter hook input priority -10 ; "
                      "policy accept ; }");
            routerNft("add rule inet qm_silence input udp dport 5351 counter drop");
        }
        ui_ = std::make_unique<Interface>();
        app_ = std::make_unique<myApp>(natpmp_);
        app_->hooks() = {[] {}, [](int) {}, [] {}};
        QVERIFY(app_->bindInterface(ui_->windows()));
        started_.start();
        app_->awakeFromNib();
        ui_->mainWindow()->show();
    }
    void cleanupTestCase() {
        // A search still waiting on a silent network would hold the end for its whole length.
        if (app_ && app_->backgroundWorkRunning()) {
            std::fflush(stdout);
            std::_Exit(0);
        }
        app_.reset();
        ui_.reset();
        set_log_observer({});
    }

    // igd: miniupnpd with UPnP and NAT-PMP.
    void gatewayNameAndTableMatchTheRouter() {
        if (!mode("igd"))
            QSKIP("needs the igd lab");
        // The router is asked only after the search, since upnpc's discovery holds this thread.
        QTRY_VERIFY_WITH_TIMEOUT(router_found, 20000);
        QTRY_VERIFY_WITH_TIMEOUT(!app_->backgroundWorkRunning(), 20000);
        QCoreApplication::processEvents();
        const qint64 elapsed = started_.elapsed();
        const QStringList expected = routerTable();
        QVERIFY(!expected.isEmpty());
        qInfo("name and complete table (%d mappings) shown %lld ms after start",
              int(expected.size()), static_cast<long long>(elapsed));
        QCOMPARE(app_->router_name->text(), env("LAB_FRIENDLY_NAME"));
        QVERIFY(app_->router_name->isVisible() && !app_->progress->isVisible());
        QVERIFY(!apple_router);
        QCOMPARE(appTable(*app_), expected);
    }
    void addTypedIntoTheDialogReachesTheRouter() {
        if (!mode("igd"))
            QSKIP("needs the igd lab");
        QTRY_VERIFY_WITH_TIMEOUT(!app_->backgroundWorkRunning(), 20000);
        const int before = app_->numberOfRowsInTableView();
        QString prefilled;
        addThroughDialog("Lab Web", "8088", "TCP", [&] { prefilled = app_->internal_ip->text(); });
        QCOMPARE(prefilled, env("LAB_CLIENT_IP"));
        QCOMPARE(app_->add_error->text(), QString());
        QCOMPARE(app_->numberOfRowsInTableView(), before + 1);
        const QString added = QStringLiteral("TCP 8088 %1 Lab Web").arg(env("LAB_CLIENT_IP"));
        QVERIFY(appTable(*app_).contains(added));
        QVERIFY(routerTable().contains(added));
    }
    void deleteRemovesTheMappingFromTheRouter() {
        if (!mode("igd"))
            QSKIP("needs the igd lab");
        const QRegularExpression labWeb(".* Lab Web");
        const QStringList rows = appTable(*app_);
        QVERIFY(rows.indexOf(labWeb) >= 0);
        app_->table->selectRow(rows.indexOf(labWeb));
        QTest::mouseClick(app_->delete_button, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(app_->numberOfRowsInTableView(), int(rows.size() - 1), 20000);
        QTRY_VERIFY(!app_->backgroundWorkRunning());
        const QStringList held = routerTable();
        QCOMPARE(held.indexOf(labWeb), -1);
        QCOMPARE(appTable(*app_), held);
    }
    void refreshShowsTheWanAddress() {
        if (!mode("igd"))
            QSKIP("needs the igd lab");
        QTest::mouseClick(app_->refresh_button, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(app_->public_address->text().contains(env("LAB_WAN_IP")), 20000);
        QVERIFY(app_->main_windows->isVisible());
    }

    // natpmp: miniupnpd with NAT-PMP only.
    void airportStationWithAnEmptyTable() {
        if (!mode("natpmp"))
            QSKIP("needs the natpmp lab");
        QTRY_VERIFY_WITH_TIMEOUT(router_found, 90000);
        qInfo("AirPort station found %lld ms after start",
              static_cast<long long>(started_.elapsed()));
        QVERIFY(apple_router);
        QCOMPARE(app_->router_name->text(), QStringLiteral("AirPort Station"));
        QCOMPARE(app_->numberOfRowsInTableView(), 0);
        QVERIFY(!app_->err_windows->isVisible());
    }
    void airportMappingReachesTheRouter() {
        if (!mode("natpmp"))
            QSKIP("needs the natpmp lab");
        QVERIFY(apple_router);
        bool fixed = false;
        addThroughDialog("Lab Game", "27016", "UDP", [&] {
            fixed = app_->internal_ip->isReadOnly() && app_->add_notice1->isVisible() &&
                    app_->internal_ip->text() == QLatin1String("Localhost");
        });
        QVERIFY(fixed);
        QCOMPARE(app_->add_error->text(), QString());
        QCOMPARE(app_->numberOfRowsInTableView(), 1);
        // The router now forwards that public port (miniupnpd keeps its mappings in nftables).
        const QString forwarded =
            "dport " + app_->objectValueForTableColumn("Listen_port", 0).toString();
        QVERIFY2(routerNft("list table inet nat").contains(forwarded),
                 qPrintable(routerNft("list table inet nat")));
        app_->table->selectRow(0);
        QTest::mouseClick(app_->delete_button, Qt::LeftButton);
        QTRY_COMPARE_WITH_TIMEOUT(app_->numberOfRowsInTableView(), 0, 20000);
        QTRY_VERIFY(!app_->backgroundWorkRunning());
        QVERIFY(!routerNft("list table inet nat").contains(forwarded));
    }

    // none: no router software.
    void noRouterShowsTheErrorWindow() {
        if (!mode("none"))
            QSKIP("needs the lab without router");
        if (droppedNatPmpRequests() >= 0)
            QSKIP("NAT-PMP is silenced in this run");
        QStringList logsWhenShown;
        bool stateKept = false;
        QVERIFY(errorWindowShown([&] {
            {
                std::lock_guard<std::mutex> lock(logMutex_);
                logsWhenShown = logs_;
            }
            stateKept = !router_found && !app_->router_name->isVisible() &&
                        app_->progress->isVisible() &&
                        app_->manual_url->stringValue() ==
                            QLatin1String("http://www.tp-link.com/network-product.php");
        }));
        qInfo("error window shown %lld ms after start", static_cast<long long>(started_.elapsed()));
        QVERIFY(stateKept);
        QVERIFY(logsWhenShown.contains("trying to find Apple router!!!"));
        QVERIFY(logsWhenShown.contains("sended public ip address request"));
    }
    void silentGatewayGetsThreeRequests() {
        if (!mode("none"))
            QSKIP("needs the lab without router");
        if (droppedNatPmpRequests() < 0)
            QSKIP("run this case on its own (it silences NAT-PMP before the start)");
        QVERIFY(errorWindowShown());
        // libnatpmp on its own would send nine requests over about two minutes.
        QCOMPARE(droppedNatPmpRequests(), 3);
    }

    // Pictures of each window into $QUAYMAP_SCREENS (run by hand under xvfb-run).
    void screenshots() {
        const QString folder = env("QUAYMAP_SCREENS");
        if (folder.isEmpty())
            QSKIP("QUAYMAP_SCREENS names no folder");
        const QString prefix = folder + (mode("natpmp") ? "/airport-" : "/");
        auto save = [&](QWidget* window, const char* file) {
            QTest::qWait(300);
            QVERIFY(window->grab().save(prefix + file));
        };
        if (mode("none")) {
            QVERIFY(errorWindowShown([&] { save(app_->err_windows, "error.png"); }));
            return;
        }
        QTRY_VERIFY_WITH_TIMEOUT(router_found && !app_->backgroundWorkRunning(), 90000);
        save(app_->main_windows, "main.png");
        whenReady([this] { return app_->add_windows->isVisible(); },
                  [&] {
                      save(app_->add_windows, "add.png");
                      app_->add_windows_cancel_button->click();
                  });
        app_->add_port_entry();
        app_->show_help_url_windows();
        save(app_->help_url_windows, "help.png");
    }
};

QTEST_MAIN(LabTest)
#include "tst_app_lab.moc"
