// The window over the real engine against the lab's router, inside the lab's LAN namespace (run
// through tests/lab/run_lab_tests.sh, which brings the lab up in the mode the test names and
// exports LAB_*). Only what the window alone does; the engine's suites test the protocols.
#include "Interface.h"
#include "EngineSettings.h"
#include "myApp.h"

#include <QtTest>
#include <QtWidgets>

// Rows as "TCP 8080 192.168.87.20 name" in the router's order, from `upnpc -l` (" 0 TCP
// 8080->192.168.87.20:80 'name' '' 0") or from the window.
static QStringList routerRows() {
    QProcess upnpc;
    upnpc.start("upnpc", {"-l"});
    upnpc.waitForFinished(60000);
    static const QRegularExpression line(R"(^\s*\d+ (TCP|UDP)\s+(\d+)->([\d.]+):\d+\s+'([^']*)')",
                                         QRegularExpression::MultilineOption);
    QStringList rows;
    for (auto it = line.globalMatch(upnpc.readAllStandardOutput()); it.hasNext();)
        rows << it.next().capturedTexts().mid(1).join(' ');
    return rows;
}

class LabTest : public QObject {
    Q_OBJECT

    const std::unique_ptr<quaymap::Engine> made_ = quaymap::make_engine({});
    quaymap::Engine& engine_ = *made_;
    Interface ui_;
    std::unique_ptr<myApp> app_;

    QStringList windowRows() const {
        QStringList rows;
        for (const auto& e : app_->entries)
            rows << QStringList({e->getProtocol(), e->getListen_port(), e->getIP(), e->getName()})
                        .join(' ');
        return rows;
    }

  private slots:
    void init() {
        const QString mode = qEnvironmentVariable("LAB_MODE"), test = QTest::currentTestFunction();
        const QString wanted = test.startsWith("noRouter")  ? "none"
                               : test.startsWith("airPort") ? "natpmp"
                                                            : "igd";
        if (mode != wanted)
            QSKIP("needs its own lab mode (run through tests/lab/run_lab_tests.sh)");
        if (app_)
            return;
        app_ = std::make_unique<myApp>(engine_);
        app_->hooks() = {[] {}, [](int) {}, [] {}};
        QVERIFY(app_->bindInterface(ui_.windows()));
        app_->awakeFromNib();
        ui_.mainWindow()->show();
    }
    void cleanupTestCase() { app_.reset(); } // also wakes a search that waits for the error window

    void rowsAppearAsTheRouterListsThem() {
        QTRY_VERIFY_WITH_TIMEOUT(app_->router_found, 20000);
        const QStringList held = routerRows();
        QVERIFY(!held.isEmpty());
        QTRY_COMPARE_WITH_TIMEOUT(windowRows(), held, 20000);
        QCOMPARE(app_->router_name->text(), qEnvironmentVariable("LAB_FRIENDLY_NAME"));
    }
    void refreshShowsTheWanAddressAndKeepsTheTable() {
        const QStringList before = windowRows();
        app_->table->selectRow(1);
        app_->refresh_button->click();
        QTRY_VERIFY_WITH_TIMEOUT(!app_->adding_progress->isVisible(), 20000);
        QCOMPARE(app_->public_address->text(),
                 "Public address: " + qEnvironmentVariable("LAB_WAN_IP"));
        QCOMPARE(windowRows(), before);
        QCOMPARE(app_->table->selectionModel()->selectedRows().value(0).row(), 1);
        QVERIFY(app_->main_windows->isVisible() && app_->command_message->text().isEmpty());
    }
    // The router goes away after it was found: a delete keeps its row, and soon the window says
    // what the engine says of a router that does not answer.
    void deleteKeepsTheRowOfARouterGone() {
        const QStringList before = windowRows();
        const auto router = [](const char* what) {
            return QProcess::execute(LAB_SCRIPT, {"router", what}) == 0;
        };
        QVERIFY(router("stop")); // its ports then refuse connections
        const auto restart = qScopeGuard([&] { router("start"); });
        app_->table->selectRow(0);
        app_->delete_button->click();
        QTRY_VERIFY_WITH_TIMEOUT(!app_->adding_progress->isVisible(), 15000);
        const quaymap::CommandResult again = engine_.remove(app_->entries[0]->record());
        QCOMPARE(int(again.verdict), int(quaymap::Verdict::unreachable));
        QCOMPARE(app_->command_message->text().toStdString(), again.message);
        QCOMPARE(windowRows(), before);
    }
    void airPortRefreshReadsThePublicAddressOverNatPmp() {
        QTRY_VERIFY_WITH_TIMEOUT(app_->apple_router, 20000);
        QCOMPARE(app_->router_name->text(), QString("AirPort Station"));
        app_->public_address->clear(); // shown at once from the search's own answer
        app_->refresh_button->click();
        QTRY_COMPARE_WITH_TIMEOUT(app_->public_address->text(),
                                  "Public address: " + qEnvironmentVariable("LAB_WAN_IP"), 20000);
        QVERIFY(app_->entries.empty());
    }
    void noRouterShowsTheErrorWindow() {
        QTRY_VERIFY_WITH_TIMEOUT(app_->err_windows->isVisible(), 30000);
        QVERIFY(!app_->router_found && app_->progress->isVisible() && !app_->add_button->isEnabled());
    }
};

QTEST_MAIN(LabTest)
#include "tst_app_lab.moc"
