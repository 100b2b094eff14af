// The window over a scripted engine: what each command shows, and that the window goes on while
// the router has not answered. Waits are for conditions, never for time.
#include "DSClickableURLTextField.h"
#include "FakeEngine.h"
#include "Interface.h"
#include "explain.h"
#include "log.h"
#include "myApp.h"

#include <QtTest>
#include <QtWidgets>
#include <sys/wait.h>
#include <unistd.h>

using namespace quaymap;

namespace {

MappingRecord mapping(const char* name, const char* port, const char* inside = nullptr,
                      const char* lease = "0") {
    return {name, "TCP", port, "192.168.1.20", inside ? inside : port, lease};
}
CommandResult answer(Verdict verdict, const char* message = "") {
    CommandResult result;
    result.verdict = verdict;
    result.message = message;
    return result;
}
bool shown(const QWidget* widget) {
    return widget->isVisibleTo(widget->window());
}
bool spinning(const QProgressBar* bar) {
    return shown(bar) && bar->maximum() == 0;
}

// Catches standard output while it lives, and gives it back whatever happens; what it caught
// after a failed check (the failure's own line with it) is printed after all.
class StdoutCapture {
  public:
    StdoutCapture() { std::fflush(stdout), file_.open(), dup2(file_.handle(), STDOUT_FILENO); }
    ~StdoutCapture() {
        const std::string caught = text();
        dup2(saved_, STDOUT_FILENO), ::close(saved_);
        if (QTest::currentTestFailed())
            std::fputs(caught.c_str(), stdout);
    }
    std::string text() {
        std::fflush(stdout);
        QFile file(file_.fileName());
        return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
    }

  private:
    int saved_ = dup(STDOUT_FILENO);
    QTemporaryFile file_;
};

// The real windows and controller over the scripted engine, with the ways out recorded.
struct Window {
    FakeEngine engine;
    Interface ui;
    myApp app{engine};
    QStringList logs;
    int beeps = 0, terminations = 0;
    QList<int> exits;

    explicit Window(RouterKind kind = RouterKind::igd1, std::vector<MappingRecord> rows = {}) {
        router_found = apple_router = false;
        const bool airport = kind == RouterKind::natpmp;
        engine.outcome = {
            kind, airport ? "AirPort Station" : "Harbour Router", "", "192.168.1.20", "", ""};
        engine.rows = std::move(rows);
        set_log_observer([this](const std::string& line) { logs << QString::fromStdString(line); });
        app.hooks() = {[this] { ++terminations; }, [this](int code) { exits << code; },
                       [this] { ++beeps; }};
    }
    ~Window() { engine.openAll(), set_log_observer({}); }
    bool start() {
        const bool bound = app.bindInterface(ui.windows());
        app.awakeFromNib();
        ui.mainWindow()->show();
        return bound;
    }
    // Started, with the router shown and all of its rows in the table.
    bool found() {
        return start() && QTest::qWaitFor([this] { return listed(); });
    }
    bool listed() { return router_found && rows() == int(engine.rows.size()); }
    bool idle() {
        return QTest::qWaitFor([this] { return !shown(app.adding_progress); });
    }
    int rows() const { return app.table->model()->rowCount(); }
    // A row as the table shows it: Name, Ports, Protocol, IP, Lease.
    QStringList row(int at) const {
        QStringList cells;
        for (int column = 0; column < app.table->model()->columnCount(); ++column)
            cells << app.table->model()->index(at, column).data().toString();
        return cells;
    }
    int calls(const std::string& call) {
        const auto made = engine.calls();
        return int(std::count(made.begin(), made.end(), call));
    }
    void add(const QString& name, const QString& port, const QString& ip = {}) {
        app.add_port_entry();
        app.name->setText(name), app.port->setText(port);
        if (!ip.isEmpty())
            app.internal_ip->setText(ip);
        app.add_windows_ok_button->click();
    }
};

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

  private slots:
    void searchShowsTheRouterAndEachRowAsItIsRead() {
        Window w(RouterKind::igd2, {mapping("web", "8080", "80", "3600"), mapping("", "22")});
        w.engine.outcome.public_address = "10.0.0.2";
        w.engine.results["list"].rows_cut = true;
        w.engine.hold("search"), w.engine.hold("row");
        StdoutCapture out;
        QVERIFY(w.start());
        QCOMPARE(w.app.search_state->text(), QStringLiteral("Searching for your router…"));
        QVERIFY(spinning(w.app.progress) && !shown(w.app.router_name));
        for (QPushButton* command : {w.app.add_button, w.app.delete_button, w.app.refresh_button})
            QVERIFY(!command->isEnabled());
        w.app.syncRouter(), w.app.add_port_entry(); // nothing at all before a router is found
        QVERIFY(!shown(w.app.adding_progress) && !w.app.add_windows->isVisible());
        w.engine.pass("search");
        QTRY_VERIFY(shown(w.app.router_name) && w.app.refresh_button->isEnabled());
        QVERIFY(router_found && !apple_router && !shown(w.app.progress));
        QCOMPARE(w.app.router_name->text(), QStringLiteral("Harbour Router"));
        QCOMPARE(w.app.public_address->text(), QStringLiteral("Public address: 10.0.0.2"));
        QCOMPARE(w.app.nat_warning->text().toStdString(), double_nat_warning("10.0.0.2"));
        QCOMPARE(w.rows(), 0);
        w.engine.pass("row");
        QTRY_COMPARE(w.rows(), 1);
        QCOMPARE(w.row(0), QStringList({"web", "8080 → 80", "TCP", "192.168.1.20", "1 h 0 min"}));
        w.engine.pass("row");
        QTRY_COMPARE(w.row(1), QStringList({"", "22", "TCP", "192.168.1.20", "permanent"}));
        QVERIFY(out.text().find("the forwading name is web\nthe forwading name is \n") !=
                std::string::npos);
        QCOMPARE(w.calls("public_address"), 0);
        QTRY_VERIFY(w.app.command_message->text().startsWith("The router lists more mappings"));
    }

    void errorWindowSearchesAgainAndLetsTheUserQuit() {
        {
            Window gone(RouterKind::none);
            QVERIFY(gone.start());
            QTRY_VERIFY(gone.app.err_windows->isVisible());
        } // the controller's end wakes the search that waits for the window
        Window w(RouterKind::none);
        QVERIFY(w.start());
        QTRY_VERIFY(w.app.err_windows->isVisible());
        QVERIFY(shown(w.app.progress) && !spinning(w.app.progress) && !router_found);
        QCOMPARE(w.app.err_windows->focusWidget(), static_cast<QWidget*>(w.app.manual_url));
        QVERIFY(w.app.err_windows->findChild<QLabel*>("err_next_search")
                    ->text()
                    .contains("about 5 seconds"));
        QVERIFY(w.app.backgroundWorkRunning()); // the search waits for the window
        const std::function<void()> closings[] = {
            [&] { w.app.close_err_window->click(); },
            [&] { QTest::keyClick(w.app.err_windows, Qt::Key_Escape); },
            [&] { w.app.err_windows->close(); }};
        for (const auto& closeIt : closings) {
            const int searches = w.calls("search");
            closeIt();
            QVERIFY(!w.app.err_windows->isVisible() && spinning(w.app.progress));
            QTRY_VERIFY(w.app.err_windows->isVisible());
            QCOMPARE(w.calls("search"), searches + 1);
        }
        w.app.err_windows->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.app.err_windows));
        QTest::keyClick(w.app.err_windows, Qt::Key_Q, Qt::ControlModifier);
        w.app.err_quit_button->click();
        QCOMPARE(w.exits, QList<int>({0, 0}));
        w.engine.outcome.kind = RouterKind::igd1;
        w.app.close_err_window->click();
        QTRY_VERIFY(shown(w.app.router_name) && !w.app.err_windows->isVisible());
    }

    void addChecksSendsAndShowsEveryAnswer() {
        Window w;
        QVERIFY(w.found());
        const char* const checks[][4] = {
            {"", "8080", "192.168.1.20", "Give the mapping a name."},
            {"web", "0", "192.168.1.20", "The port must be a number from 1 to 65535."},
            {"web", "65536", "192.168.1.20", "The port must be a number from 1 to 65535."},
            {"web", "80", "192.168.1",
             "The address must be an IPv4 address such as 192.168.1.20."}};
        for (const auto& c : checks) {
            w.add(c[0], c[1], c[2]);
            QCOMPARE(w.app.add_error->text(), QString(c[3]));
            QVERIFY(w.app.add_windows->isVisible());
        }
        w.app.add_port_entry_cancel();
        w.engine.results["add"].row.lease_duration = "7200";
        w.add("web", "8080"); // "Forward to" is this computer's address again
        QTRY_VERIFY(!w.app.add_windows->isVisible());
        QCOMPARE(w.engine.calls(),
                 std::vector<std::string>({"search", "list", "add web 8080 TCP 192.168.1.20"}));
        QCOMPARE(w.row(0), QStringList({"web", "8080", "TCP", "192.168.1.20", "2 h 0 min"}));
        QVERIFY(w.logs.contains("The apple router is false"));
        QTimer* renewal = w.app.findChild<QTimer*>("renewal");
        QVERIFY(renewal && renewal->isActive() && renewal->interval() == 3600 * 1000);
        const char* const held = "Port 8080/TCP already goes to 192.168.87.21 (Web Server).";
        w.engine.results["add"] = answer(Verdict::refused, held);
        w.add("other web", "8080", "192.168.1.30");
        QTRY_COMPARE(w.app.add_error->text(), QString(held));
        QVERIFY(w.app.add_windows->isVisible() && w.rows() == 1);
        // Cancel stops the waiting, not the add: a late grant still reaches the table, and a
        // late failure the main window.
        for (const char* late : {"", "The router at 192.168.1.1 did not answer."}) {
            w.engine.results["add"] = answer(*late ? Verdict::unreachable : Verdict::done, late);
            w.engine.hold("add");
            w.add("game", "27015");
            QVERIFY(spinning(w.app.add_progress) && spinning(w.app.adding_progress));
            QVERIFY(!w.app.add_windows_ok_button->isEnabled());
            w.app.add_windows_cancel_button->click();
            w.engine.pass("add");
            QVERIFY(w.idle());
            QVERIFY(w.rows() == 2 && !w.app.add_windows->isVisible());
            QCOMPARE(w.app.command_message->text(), QString(late));
        }
        // A failed renewal is tried again a minute later.
        w.engine.results["renew"] = answer(Verdict::unreachable);
        renewal->start(0);
        QTRY_COMPARE(renewal->interval(), 60 * 1000);
        w.engine.results["renew"].verdict = Verdict::done;
        w.engine.results["renew"].row.lease_duration = "600";
        renewal->start(0);
        QTRY_COMPARE(renewal->interval(), 300 * 1000);
        QVERIFY(w.calls("renew 8080 TCP") == 2 && w.row(0).last() == "10 min");
    }

    void airportDialogAndItsMappingsThroughARefresh() {
        Window w(RouterKind::natpmp);
        w.engine.outcome.public_address = "11.87.0.2";
        QVERIFY(w.found());
        QVERIFY(apple_router && w.app.router_name->text() == "AirPort Station");
        QVERIFY(!shown(w.app.nat_warning) && shown(w.app.copy_address_button));
        w.add("game", "27015");
        QVERIFY(w.app.internal_ip->text() == "Localhost" && w.app.internal_ip->isReadOnly());
        QVERIFY(shown(w.app.add_notice1) && !w.logs.contains("The apple router is false"));
        QTRY_COMPARE(w.rows(), 1);
        QCOMPARE(w.engine.calls().back(), std::string("add game 27015 TCP "));
        w.app.refresh_button->click();
        QVERIFY(w.idle());
        QVERIFY(w.calls("list") == 2 && w.rows() == 1); // NAT-PMP lists nothing
    }

    void deleteRemovesOnlyWhatTheRouterConfirmed() {
        Window w(RouterKind::igd1,
                 {mapping("web", "8080"), mapping("game", "27015"), mapping("bad", "70000")});
        QVERIFY(w.found());
        for (const auto& [verdict, message] :
             {std::pair{Verdict::refused, "The router refused to delete the mapping: 714."},
              std::pair{Verdict::unreachable, "The router at 192.168.1.1 did not answer."},
              std::pair{Verdict::invalid, "The router listed an invalid port (\"70000\")."}}) {
            w.engine.results["remove"] = answer(verdict, message);
            w.app.table->selectRow(verdict == Verdict::invalid ? 2 : 0);
            QTest::keyClick(w.app.table, Qt::Key_Delete);
            QTRY_COMPARE(w.app.command_message->text(), QString(message));
            QCOMPARE(w.rows(), 3);
        }
        w.engine.results["remove"] = {};
        w.app.table->sortByColumn(0, Qt::AscendingOrder); // bad, game, web
        w.app.table->selectRow(2);
        w.logs.clear();
        w.app.delete_button->click();
        QTRY_COMPARE(w.rows(), 2);
        QCOMPARE(w.engine.calls().back(), std::string("remove 8080 TCP"));
        QCOMPARE(w.logs, QStringList({"the select row is 2"}));
        QCOMPARE(w.row(0).first() + w.row(1).first(), QStringLiteral("badgame"));
    }

    void refreshShowsTheAddressAndMergesTheTable() {
        Window w(RouterKind::igd1, {mapping("web", "8080"), mapping("ssh", "22")});
        QVERIFY(w.found());
        w.app.table->selectRow(1);
        w.engine.results["public_address"].address = "100.64.0.7";
        w.engine.rows = {mapping("web server", "8080"), mapping("ssh", "22"), mapping("ftp", "21")};
        StdoutCapture out;
        w.app.refresh_button->click();
        QVERIFY(w.idle());
        QCOMPARE(w.row(0).first() + w.row(2).first(), QStringLiteral("web serverftp"));
        QCOMPARE(w.app.public_address->text(), QStringLiteral("Public address: 100.64.0.7"));
        QCOMPARE(w.app.nat_warning->text().toStdString(), double_nat_warning("100.64.0.7"));
        QVERIFY(out.text().find("the public ip address is 100.64.0.7\n") != std::string::npos);
        QVERIFY(w.ui.mainWindow()->isVisible());
        w.engine.rows.erase(w.engine.rows.begin()); // the router no longer holds "web server"
        w.app.syncRouter();
        QVERIFY(w.idle() && w.rows() == 2);
        QCOMPARE(w.app.table->selectionModel()->selectedRows().value(0).data(), QVariant("ssh"));
        w.app.copy_address_button->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("100.64.0.7"));
        w.engine.results["list"] = answer(Verdict::unreachable, "No answer.");
        w.app.syncRouter();
        QVERIFY(w.idle() && w.rows() == 2 && w.app.command_message->text() == "No answer.");
    }

    void fieldsKeepTheirCharacters() {
        const struct {
            // typed after the second character of start; '|' empties the field
            const char *field, *start, *typed, *text;
            int beeps;
        } cases[] = {{"port", "", "8080k", "8080", 1},
                     {"port", "", "443|q", "443", 1},
                     {"port", "8080", "x", "80x80", 0},
                     {"port", "", "80.", "80", 1},
                     {"internal_ip", "", "10.0.0.1/", "10.0.0.1", 1},
                     {"name", "", "web 2", "web 2", 0}};
        for (const auto& c : cases) {
            Window w;
            QVERIFY(w.start());
            auto* edit = w.app.add_windows->findChild<QLineEdit*>(c.field);
            edit->setText(c.start), edit->setCursorPosition(2);
            for (const char* key = c.typed; *key; ++key)
                if (*key == '|')
                    edit->selectAll(), QTest::keyClick(edit, Qt::Key_Backspace);
                else
                    QTest::keyClick(edit, *key);
            QCOMPARE(edit->text(), QString(c.text));
            QCOMPARE(w.beeps, c.beeps);
        }
    }

    void closeQuitAndAccessibleNames() {
        Window w;
        w.engine.hold("search");
        QVERIFY(w.start());
        w.app.close_button->click(), w.app.quit_action->trigger();
        QVERIFY(!w.ui.mainWindow()->close()); // the title-bar close ends the application
        QVERIFY(w.exits == QList<int>({0, 0}) && w.terminations == 1);
        // close: ends the process at once, also while a thread waits for the router.
        w.app.restoreDefaultHooks();
        std::fflush(nullptr);
        const pid_t child = fork();
        if (child == 0)
            w.app.close(), std::_Exit(3);
        int status = -1;
        QVERIFY(waitpid(child, &status, 0) == child && WIFEXITED(status) && !WEXITSTATUS(status));
        for (QWidget* window : w.ui.windows())
            for (QWidget* control : window->findChildren<QWidget*>(QRegularExpression("^(?!qt_).")))
                if (control->focusPolicy() != Qt::NoFocus ||
                    qobject_cast<QAbstractButton*>(control))
                    QVERIFY2(!control->accessibleName().isEmpty(),
                             qPrintable(control->objectName()));
    }
};

QTEST_MAIN(WindowTest)
#include "tst_window.moc"
