// The whole application against the lab's router: the real controller, windows, UPnP client and
// libnatpmp, offscreen, inside the lab's LAN namespace (run through tests/lab/run_lab_tests.sh,
// which brings the lab up in the mode the test names and exports LAB_* variables).
//
// The test cases of one run share one application, started once, as a person would use it.
#include "DSClickableURLTextField.h"
#include "Interface.h"
#include "NatPmp.h"
#include "RouterState.h"
#include "log.h"
#include "myApp.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTableView>
#include <QTest>
#include <QTimer>
#include <memory>
#include <mutex>

namespace {

struct Row {
    QString protocol, port, client, name;
    bool operator==(const Row& o) const {
        return protocol == o.protocol && port == o.port && client == o.client && name == o.name;
    }
};

QString run(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    process.waitForFinished(60000);
    return QString::fromUtf8(process.readAllStandardOutput());
}

// The router's table as `upnpc -l` lists it: " 0 TCP 25565->192.168.87.20:25565 'name' '' 0".
QList<Row> routerTable() {
    const QString listing = run(QStringLiteral("upnpc"), {QStringLiteral("-l")});
    static const QRegularExpression line(
        QStringLiteral(R"(^\s*\d+\s+(TCP|UDP)\s+(\d+)->([\d.]+):\d+\s+'([^']*)')"),
        QRegularExpression::MultilineOption);
    QList<Row> rows;
    for (auto it = line.globalMatch(listing); it.hasNext();) {
        const auto m = it.next();
        rows.append({m.captured(1), m.captured(2), m.captured(3), m.captured(4)});
    }
    return rows;
}

QList<Row> appTable(myApp& app) {
    QList<Row> rows;
    for (int row = 0; row < app.numberOfRowsInTableView(); ++row) {
        auto cell = [&](const char* id) {
            return app.objectValueForTableColumn(QLatin1String(id), row).toString();
        };
        rows.append({cell("Protocol"), cell("Listen_port"), cell("IP"), cell("Name")});
    }
    return rows;
}

QString env(const char* name) {
    return qEnvironmentVariable(name);
}

void whenReady(std::function<bool()> condition, std::function<void()> action) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, condition, action] {
        if (!condition())
            return;
        timer->stop();
        timer->deleteLater();
        action();
    });
    timer->start();
}

// A drop rule in the router for NAT-PMP requests, with a counter of those dropped: a gateway
// that neither answers nor refuses.
const QStringList kRouterNft = {QStringLiteral("netns"), QStringLiteral("exec"),
                                QStringLiteral("quaymap-router"), QStringLiteral("nft")};
void silenceNatPmp() {
    run(QStringLiteral("ip"), kRouterNft + QStringList{"add", "table", "inet", "qm_silence"});
    run(QStringLiteral("ip"),
        kRouterNft + QStringList{"add chain inet qm_silence input { type filter hook input "
                                 "priority -10 ; policy accept ; }"});
    run(QStringLiteral("ip"), kRouterNft + QStringList{"add rule inet qm_silence input udp dport "
                                                       "5351 counter drop"});
}
int droppedNatPmpRequests() {
    const QString rules =
        run(QStringLiteral("ip"), kRouterNft + QStringList{"list", "table", "inet", "qm_silence"});
    static const QRegularExpression counter(QStringLiteral(R"(counter packets (\d+))"));
    const auto m = counter.match(rules);
    return m.hasMatch() ? m.captured(1).toInt() : -1;
}

} // namespace

class LabTest : public QObject {
    Q_OBJECT

  private slots:
    void initTestCase();
    void cleanupTestCase();

    // igd: miniupnpd with UPnP and NAT-PMP.
    void gatewayNameAndTableMatchTheRouter();
    void addTypedIntoTheDialogReachesTheRouter();
    void deleteRemovesTheMappingFromTheRouter();
    void refreshShowsTheWanAddress();

    // natpmp: miniupnpd with NAT-PMP only.
    void airportStationWithAnEmptyTable();
    void airportMappingReachesTheRouter();

    // none: no router software.
    void noRouterShowsTheErrorWindow();
    void silentGatewayGetsThreeRequests();

    // Pictures of each window into $QUAYMAP_SCREENS (run by hand under xvfb-run).
    void screenshots();

  private:
    bool mode(const char* wanted) const { return env("LAB_MODE") == QLatin1String(wanted); }
    void startApplication();

    LibNatPmp natpmp_;
    std::unique_ptr<Interface> ui_;
    std::unique_ptr<myApp> app_;
    QElapsedTimer started_;
    std::mutex logMutex_;
    QStringList logs_;
};

void LabTest::initTestCase() {
    if (env("LAB_MODE").isEmpty())
        QSKIP("not inside the lab (run through tests/lab/run_lab_tests.sh)");
    QStandardPaths::setTestModeEnabled(true);
    set_log_observer([this](const std::string& line) {
        std::lock_guard<std::mutex> lock(logMutex_);
        logs_.append(QString::fromStdString(line));
    });
    if (mode("none") && qApp->arguments().contains(QLatin1String("silentGatewayGetsThreeRequests")))
        silenceNatPmp();
    startApplication();
}

void LabTest::startApplication() {
    ui_ = std::make_unique<Interface>();
    app_ = std::make_unique<myApp>(natpmp_);
    app_->hooks().terminate = [] {};
    app_->hooks().exitProcess = [](int) {};
    app_->hooks().beep = [] {};
    QVERIFY(app_->bindInterface(ui_->windows()));
    started_.start();
    app_->awakeFromNib();
    ui_->mainWindow()->show();
}

void LabTest::cleanupTestCase() {
    // A search still waiting on a silent network would hold the end for its whole length.
    if (app_ && app_->backgroundWorkRunning()) {
        std::fflush(stdout);
        std::_Exit(0);
    }
    app_.reset();
    ui_.reset();
    set_log_observer({});
}

void LabTest::gatewayNameAndTableMatchTheRouter() {
    if (!mode("igd"))
        QSKIP("needs the igd lab");
    // The table is complete once the search has ended; the router is asked only afterwards,
    // since upnpc's own discovery holds this thread for seconds.
    QTRY_VERIFY_WITH_TIMEOUT(router_found, 20000);
    QTRY_VERIFY_WITH_TIMEOUT(!app_->backgroundWorkRunning(), 20000);
    QCoreApplication::processEvents();
    const qint64 elapsed = started_.elapsed();
    const QList<Row> expected = routerTable();
    QVERIFY(!expected.isEmpty());
    QCOMPARE(app_->numberOfRowsInTableView(), int(expected.size()));
    qInfo("name and complete table (%d mappings) shown %lld ms after start", int(expected.size()),
          static_cast<long long>(elapsed));
    QCOMPARE(app_->router_name->text(), env("LAB_FRIENDLY_NAME"));
    QVERIFY(app_->router_name->isVisible());
    QVERIFY(!app_->progress->isVisible());
    QVERIFY(!apple_router);
    QCOMPARE(appTable(*app_), expected);
}

void LabTest::addTypedIntoTheDialogReachesTheRouter() {
    if (!mode("igd"))
        QSKIP("needs the igd lab");
    QTRY_VERIFY_WITH_TIMEOUT(!app_->backgroundWorkRunning(), 20000);
    const int before = app_->numberOfRowsInTableView();
    bool filled = false;
    QString prefilled;
    whenReady([this] { return app_->add_windows->isVisible(); },
              [&] {
                  prefilled = app_->internal_ip->text();
                  QTest::keyClicks(app_->name, QStringLiteral("Lab Web"));
                  QTest::keyClicks(app_->port, QStringLiteral("8088"));
                  app_->protocol->setCurrentText(QStringLiteral("TCP"));
                  filled = true;
                  QTest::mouseClick(app_->add_windows_ok_button, Qt::LeftButton);
              });
    QTest::mouseClick(app_->add_button, Qt::LeftButton); // returns when the dialog closes
    QVERIFY(filled);
    QCOMPARE(prefilled, env("LAB_CLIENT_IP"));
    QVERIFY(app_->add_error->text().isEmpty());
    QCOMPARE(app_->numberOfRowsInTableView(), before + 1);
    const Row added{QStringLiteral("TCP"), QStringLiteral("8088"), env("LAB_CLIENT_IP"),
                    QStringLiteral("Lab Web")};
    QVERIFY(appTable(*app_).contains(added));
    QVERIFY(routerTable().contains(added));
}

void LabTest::deleteRemovesTheMappingFromTheRouter() {
    if (!mode("igd"))
        QSKIP("needs the igd lab");
    const QList<Row> rows = appTable(*app_);
    int row = -1;
    for (int i = 0; i < rows.size(); ++i)
        if (rows[i].name == QLatin1String("Lab Web"))
            row = i;
    QVERIFY(row >= 0);
    app_->table->selectRow(row);
    QTest::mouseClick(app_->delete_button, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(app_->numberOfRowsInTableView(), int(rows.size() - 1), 20000);
    QTRY_VERIFY(!app_->backgroundWorkRunning());
    for (const Row& held : routerTable())
        QVERIFY(held.name != QLatin1String("Lab Web"));
    QCOMPARE(appTable(*app_), routerTable());
}

void LabTest::refreshShowsTheWanAddress() {
    if (!mode("igd"))
        QSKIP("needs the igd lab");
    QTest::mouseClick(app_->refresh_button, Qt::LeftButton);
    QTRY_VERIFY_WITH_TIMEOUT(app_->public_address->text().contains(env("LAB_WAN_IP")), 20000);
    QVERIFY(app_->main_windows->isVisible());
}

void LabTest::airportStationWithAnEmptyTable() {
    if (!mode("natpmp"))
        QSKIP("needs the natpmp lab");
    QTRY_VERIFY_WITH_TIMEOUT(router_found, 90000);
    qInfo("AirPort station found %lld ms after start", static_cast<long long>(started_.elapsed()));
    QVERIFY(apple_router);
    QCOMPARE(app_->router_name->text(), QStringLiteral("AirPort Station"));
    QCOMPARE(app_->numberOfRowsInTableView(), 0);
    QVERIFY(!app_->err_windows->isVisible());
}

void LabTest::airportMappingReachesTheRouter() {
    if (!mode("natpmp"))
        QSKIP("needs the natpmp lab");
    QVERIFY(apple_router);
    bool fixed = false;
    whenReady([this] { return app_->add_windows->isVisible(); },
              [&] {
                  fixed = app_->internal_ip->isReadOnly() &&
                          app_->internal_ip->text() == QLatin1String("Localhost") &&
                          app_->add_notice1->isVisible();
                  app_->name->setText(QStringLiteral("Lab Game"));
                  app_->port->setText(QStringLiteral("27016"));
                  app_->protocol->setCurrentText(QStringLiteral("UDP"));
                  QTest::mouseClick(app_->add_windows_ok_button, Qt::LeftButton);
                  whenReady([this] { return !app_->add_error->text().isEmpty(); },
                            [this] { app_->add_windows_cancel_button->click(); });
              });
    QTest::mouseClick(app_->add_button, Qt::LeftButton);
    QVERIFY(fixed);
    QCOMPARE(app_->add_error->text(), QString());
    QCOMPARE(app_->numberOfRowsInTableView(), 1);
    const QString publicPort =
        app_->objectValueForTableColumn(QStringLiteral("Listen_port"), 0).toString();
    // The router now forwards that public port (miniupnpd keeps its mappings in nftables).
    const QStringList chain = kRouterNft + QStringList{"list", "table", "inet", "nat"};
    QVERIFY2(run(QStringLiteral("ip"), chain).contains(QStringLiteral("dport ") + publicPort),
             qPrintable(run(QStringLiteral("ip"), chain)));
    app_->table->selectRow(0);
    QTest::mouseClick(app_->delete_button, Qt::LeftButton);
    QTRY_COMPARE_WITH_TIMEOUT(app_->numberOfRowsInTableView(), 0, 20000);
    QTRY_VERIFY(!app_->backgroundWorkRunning());
    QVERIFY(!run(QStringLiteral("ip"), chain).contains(QStringLiteral("dport ") + publicPort));
}

void LabTest::noRouterShowsTheErrorWindow() {
    if (!mode("none"))
        QSKIP("needs the lab without router");
    if (droppedNatPmpRequests() >= 0)
        QSKIP("NAT-PMP is silenced in this run");
    bool shown = false;
    QStringList logsWhenShown;
    whenReady([this] { return app_->err_windows->isVisible(); },
              [&] {
                  shown = true;
                  {
                      std::lock_guard<std::mutex> lock(logMutex_);
                      logsWhenShown = logs_;
                  }
                  QVERIFY(!router_found);
                  QVERIFY(!app_->router_name->isVisible());
                  QVERIFY(app_->progress->isVisible());
                  QCOMPARE(app_->manual_url->stringValue(),
                           QStringLiteral("http://www.tp-link.com/network-product.php"));
                  // Ends the modal run without a new search, so the test can finish.
                  app_->err_windows->hide();
              });
    QTRY_VERIFY_WITH_TIMEOUT(shown, 120000);
    qInfo("error window shown %lld ms after start", static_cast<long long>(started_.elapsed()));
    QVERIFY(logsWhenShown.contains(QStringLiteral("trying to find Apple router!!!")));
    QVERIFY(logsWhenShown.contains(QStringLiteral("sended public ip address request")));
}

void LabTest::silentGatewayGetsThreeRequests() {
    if (!mode("none"))
        QSKIP("needs the lab without router");
    if (droppedNatPmpRequests() < 0)
        QSKIP("run this case on its own (it silences NAT-PMP before the start)");
    bool shown = false;
    whenReady([this] { return app_->err_windows->isVisible(); },
              [&] {
                  shown = true;
                  app_->err_windows->hide();
              });
    QTRY_VERIFY_WITH_TIMEOUT(shown, 120000);
    // libnatpmp on its own would send nine requests over about two minutes.
    QCOMPARE(droppedNatPmpRequests(), 3);
}

void LabTest::screenshots() {
    const QString folder = env("QUAYMAP_SCREENS");
    if (folder.isEmpty())
        QSKIP("QUAYMAP_SCREENS names no folder");
    auto save = [&](QWidget* window, const QString& file) {
        QApplication::processEvents();
        QVERIFY(window->grab().save(folder + QLatin1Char('/') + file));
    };
    if (mode("none")) {
        bool saved = false;
        whenReady([this] { return app_->err_windows->isVisible(); },
                  [&] {
                      QTimer::singleShot(300, [&] {
                          save(app_->err_windows, QStringLiteral("error.png"));
                          save(app_->main_windows, QStringLiteral("main-searching.png"));
                          saved = true;
                          app_->err_windows->hide();
                      });
                  });
        QTRY_VERIFY_WITH_TIMEOUT(saved, 120000);
        return;
    }
    const QString prefix = mode("igd") ? QString() : QStringLiteral("airport-");
    QTRY_VERIFY_WITH_TIMEOUT(router_found, 90000);
    QTRY_VERIFY_WITH_TIMEOUT(!app_->backgroundWorkRunning(), 20000);
    QTest::qWait(300);
    if (mode("igd")) {
        QTest::mouseClick(app_->refresh_button, Qt::LeftButton);
        QTRY_VERIFY_WITH_TIMEOUT(!app_->public_address->text().isEmpty(), 20000);
        app_->table->selectRow(2);
    }
    save(app_->main_windows, prefix + QStringLiteral("main.png"));
    bool saved = false;
    whenReady([this] { return app_->add_windows->isVisible(); },
              [&] {
                  if (mode("igd")) {
                      app_->name->setText(QStringLiteral("Web Server"));
                      app_->port->setText(QStringLiteral("8080"));
                  }
                  QTimer::singleShot(300, [&] {
                      save(app_->add_windows, prefix + QStringLiteral("add.png"));
                      if (mode("igd")) {
                          // A mapping the router already holds for another computer.
                          app_->internal_ip->setText(QStringLiteral("192.168.87.30"));
                          app_->add_windows_ok_button->click();
                          whenReady([this] { return !app_->add_error->text().isEmpty(); },
                                    [&] {
                                        save(app_->add_windows, QStringLiteral("add-refused.png"));
                                        saved = true;
                                        app_->add_windows_cancel_button->click();
                                    });
                          return;
                      }
                      saved = true;
                      app_->add_windows_cancel_button->click();
                  });
              });
    app_->add_port_entry();
    QVERIFY(saved);
    app_->show_help_url_windows();
    QTest::qWait(300);
    save(app_->help_url_windows, prefix + QStringLiteral("help.png"));
}

QTEST_MAIN(LabTest)
#include "tst_app_lab.moc"
