// The window over a scripted engine: what each command shows, and that the window goes on while
// the router has not answered. What the engine says is its own: the window shows it as given.
// Waits are for conditions, never for time.
#include "Interface.h"
#include "Keeping.h"
#include "explain.h"
#include "myApp.h"
#include "router_text.h"

#include <QtTest>
#include <QtWidgets>
#include <condition_variable>
#include <mutex>
#include <sys/wait.h>
#include <unistd.h>

using namespace quaymap;

namespace {

quaymap::Mapping mapping(const char* name, const char* port, const char* lease = "0") {
    return {name, "TCP", port, "192.168.1.20", port, lease};
}
CommandResult answer(Verdict verdict, const QString& message = {}, quaymap::Mapping row = {}) {
    CommandResult result;
    result.verdict = verdict, result.message = message.toStdString(), result.row = row;
    return result;
}
// A row as the table must show it: Name, Ports, Protocol, IP, Lease, what the record says.
QStringList cells(const quaymap::Mapping& r, const QString& mark = {}) {
    return {one_line(r.description).c_str(),
            ports_text(r).c_str(),
            r.protocol.c_str(),
            r.internal_client.c_str(),
            lease_text(r.lease_duration).c_str(),
            mark};
}
// An entry of the record, as made from the window.
RecordEntry made(const char* name, uint16_t port, bool kept, int64_t lease = 7200) {
    const int64_t end = lease ? std::time(nullptr) + lease : 0;
    return {"r", "igd1", port, port, "TCP", "192.168.1.20", name, lease, end, kept, "", "", ""};
}
bool spinning(const QProgressBar* bar) {
    return bar->isVisible() && bar->maximum() == 0;
}

// Catches standard output while it lives and gives it back whatever happens; after a failed
// check it prints what it caught, the failure's own line with it.
struct StdoutCapture {
    QTemporaryFile file;
    const int saved = (std::fflush(stdout), file.open(), dup(STDOUT_FILENO));
    StdoutCapture() { dup2(file.handle(), STDOUT_FILENO); }
    ~StdoutCapture() {
        const QByteArray caught = text();
        dup2(saved, STDOUT_FILENO), ::close(saved);
        if (QTest::currentTestFailed())
            std::fputs(caught.constData(), stdout);
    }
    QByteArray text() { return std::fflush(stdout), file.seek(0), file.readAll(); }
};

// The real windows and controller over an engine that answers as told ("done" unless given) and
// records each call; no network at all. The engine's threads read the script: the outcome is set
// before start(), the rest changes under the lock once started ("w.locked(), w.listing = ...;").
struct Window : Engine {
    // First, so that they outlast the controller's threads.
    std::mutex mutex;
    std::condition_variable changed;
    std::map<std::string, int> allowed; // calls of a kind that go on before one waits
    std::map<std::string, std::vector<std::string>> made; // what each kind of call asked for

    SearchOutcome outcome{RouterKind::igd1, "Harbour Router", "", "192.168.1.20", "", "", {}};
    std::vector<quaymap::Mapping> listing;
    std::map<std::string, CommandResult> results; // by call: "add", "list", ...
    std::vector<RecordEntry> record;              // what the record holds for the router
    std::string restart;                          // restarted() tells it once
    KeeperClock::time_point now{};                // the keeper's clock, its chance 0
    Interface ui;
    myApp app{*this};
    int beeps = 0, terminations = 0;
    QList<int> exits;

    explicit Window(RouterKind kind = RouterKind::igd1, std::vector<quaymap::Mapping> rows = {})
        : listing(std::move(rows)) {
        outcome.kind = kind;
        app.hooks() = {[this] { ++terminations; }, [this](int code) { exits << code; },
                       [this] { ++beeps; }};
        app.keeping()->setTime({[this] { return now; }, [] { return 0.0; }});
    }
    ~Window() { locked(), allowed.clear(), changed.notify_all(); }
    bool start() {
        const bool bound = app.bindInterface(ui.windows());
        app.awakeFromNib();
        ui.mainWindow()->show();
        return bound;
    }
    // Started, with the router shown and all of its rows.
    bool found() {
        return start() &&
               QTest::qWaitFor([&] { return app.router_found && rows() == listing.size(); });
    }
    bool idle() {
        return QTest::qWaitFor([this] { return !app.adding_progress->isVisible(); });
    }
    size_t rows() const { return app.table->model()->rowCount(); }
    QStringList row(int at) const {
        QStringList cells;
        for (int column = 0; column < app.table->model()->columnCount(); ++column)
            cells << app.table->model()->index(at, column).data().toString();
        return cells;
    }
    void add(const QString& name, const QString& port, const QString& ip = {}, bool keep = false) {
        app.add_port_entry();
        app.name->setText(name), app.port->setText(port), app.keep_open->setChecked(keep);
        if (!ip.isEmpty())
            app.internal_ip->setText(ip);
        app.add_windows_ok_button->click();
    }

    // That many more calls of a kind ("row": a listing's rows) go on, then each waits; -1: all.
    void allow(const std::string& call, int count) {
        locked(), count < 0 ? void(allowed.erase(call)) : void(allowed[call] = count);
        changed.notify_all();
    }
    // How many calls of a kind were made (first waiting until that many were, not running the
    // main thread's events), and what the latest asked for ("web 8080 TCP 192.168.1.20").
    size_t calls(const std::string& call, size_t wait = 0) {
        std::unique_lock<std::mutex> lock(mutex);
        changed.wait_for(lock, std::chrono::seconds(10), [&] { return made[call].size() >= wait; });
        return made[call].size();
    }
    std::string last(const std::string& call) {
        return locked(), made[call].empty() ? "" : made[call].back();
    }

    SearchOutcome search(const SearchOptions&) override { return called("search"), outcome; }
    SearchOutcome choose(std::size_t index) override {
        called("choose", std::to_string(index));
        const std::unique_lock<std::mutex> lock(mutex);
        if (index >= outcome.routers.size())
            return {};
        SearchOutcome chosen = outcome;
        chosen.name = outcome.routers[index].name, chosen.address = outcome.routers[index].address;
        return chosen;
    }
    CommandResult list(const RowSink& sink) override {
        const CommandResult result = called("list");
        const std::vector<quaymap::Mapping> rows = (locked(), listing);
        for (const quaymap::Mapping& row : rows)
            called("row"), sink(row);
        return result;
    }
    CommandResult add(const AddRequest& r) override {
        const std::string port = std::to_string(r.external_port);
        return called("add", r.name + " " + port + " " + r.protocol + " " + r.internal_client +
                                 (r.keep ? " kept" : ""));
    }
    std::vector<RecordEntry> recorded() override { return locked(), record; }
    bool restarted(std::string& why) override {
        const std::unique_lock<std::mutex> lock(mutex);
        why.swap(restart), restart.clear();
        return !why.empty();
    }
    CommandResult remove(const quaymap::Mapping& r) override {
        return called("remove", r.external_port + " " + r.protocol);
    }
    CommandResult public_address() override { return called("public_address"); }
    CommandResult renew(const quaymap::Mapping& r) override {
        return called("renew", r.external_port + " " + r.protocol);
    }

    // Held to the end of the statement that takes it.
    std::unique_lock<std::mutex> locked() { return std::unique_lock<std::mutex>(mutex); }
    CommandResult called(const std::string& call, const std::string& asked = {}) {
        std::unique_lock<std::mutex> lock(mutex);
        made[call].push_back(asked);
        changed.notify_all();
        changed.wait(lock, [&] { return !allowed.count(call) || allowed[call] > 0; });
        if (allowed.count(call))
            --allowed[call];
        return results[call];
    }
};

} // namespace

class WindowTest : public QObject {
    Q_OBJECT

  private slots:
    void searchShowsTheRouterAndEachRowAsItIsRead() {
        const QString shown = "<b>Big</b> <img src=x> [2J"; // router text: plain, on one line
        Window w(RouterKind::igd2, {mapping("web", "8080", "3600"), mapping("", "22")});
        w.listing[0].internal_port = "80";
        w.outcome.name = w.listing[1].description = "<b>Big</b>\n<img src=x>\x1b[2J";
        w.outcome.public_address = "10.0.0.2";
        w.results["list"].rows_cut = true;
        w.allow("row", 0);
        StdoutCapture out;
        QVERIFY(w.start());
        QVERIFY(spinning(w.app.progress) && w.app.search_state->isVisible());
        QVERIFY(!w.app.add_button->isEnabled() && !w.app.delete_button->isEnabled() &&
                !w.app.refresh_button->isEnabled() && !w.app.router_name->isVisible());
        w.app.syncRouter(), w.app.add_port_entry(); // nothing at all before a router is found
        QVERIFY(!w.app.adding_progress->isVisible() && !w.app.add_windows->isVisible());
        QVERIFY(w.calls("list", true) && !w.app.router_found); // set on the main thread only
        QTRY_VERIFY(w.app.router_name->isVisible() && w.app.refresh_button->isEnabled());
        QVERIFY(w.app.router_found && !w.app.apple_router && !w.app.progress->isVisible());
        QCOMPARE(w.app.router_name->text(), shown);
        QCOMPARE(w.app.public_address->text(), "Public address: 10.0.0.2");
        for (size_t at = 0; at < 2; ++at) {
            QCOMPARE(w.rows(), at); // each row as it is read
            w.allow("row", 1);
            QTRY_COMPARE(w.row(at), cells(w.listing[at]));
        }
        QVERIFY(out.text().contains("the forwading name is web\nthe forwading name is " +
                                    shown.toUtf8() + "\n"));
        QTRY_VERIFY(!w.app.command_message->text().isEmpty()); // the list was cut
        for (QLabel* label : {w.app.router_name, w.app.search_state, w.app.public_address,
                              w.app.nat_warning, w.app.command_message, w.app.add_error})
            QCOMPARE(label->textFormat(), Qt::PlainText);
        QTextDocument tip; // a tool tip reads markup as such: it gets it escaped
        tip.setHtml(w.app.table->model()->index(1, 0).data(Qt::ToolTipRole).toString());
        QCOMPARE(tip.toPlainText(), shown);
    }

    void severalRoutersAreOfferedAndTheChosenOneListed() {
        Window w(RouterKind::igd1, {mapping("web", "8080")});
        w.outcome.address = "192.168.1.1";
        w.outcome.routers = {{RouterKind::igd1, "Attic", "192.168.1.2"},
                             {RouterKind::igd1, "Harbour Router", "192.168.1.1"}};
        QVERIFY(w.found());
        QVERIFY(w.app.router_choice->isVisible() && !w.app.router_name->isVisible());
        QCOMPARE(w.app.router_choice->currentText(), "Harbour Router (192.168.1.1)");
        w.locked(), w.listing = {mapping("attic", "9000")};
        emit w.app.router_choice->activated(0);
        QTRY_COMPARE(w.rows(), size_t(1));
        QTRY_COMPARE(w.row(0).first(), "attic");
        QCOMPARE(w.last("choose"), "0");
        QCOMPARE(w.app.router_choice->currentText(), "Attic (192.168.1.2)");
        emit w.app.router_choice->activated(5); // gone meanwhile: the table stays that router's
        QTRY_COMPARE(w.app.command_message->text(), "That router cannot be chosen.");
        QVERIFY(w.idle() && w.app.add_button->isEnabled());
        QTRY_COMPARE(w.calls("list"), size_t(3));
    }

    void errorWindowSearchesAgainAndLetsTheUserQuit() {
        Window w(RouterKind::none);
        QVERIFY(w.start());
        QTRY_VERIFY(w.app.err_windows->isVisible());
        QVERIFY(w.app.progress->isVisible() && !spinning(w.app.progress) && !w.app.router_found);
        QVERIFY(w.app.err_windows->focusWidget()->objectName() == "manual_url");
        QVERIFY(w.app.backgroundWorkRunning()); // the search waits for the window
        for (const int closing : {0, 1, 2}) {   // its button, Escape, its title-bar close
            closing == 0   ? w.app.close_err_window->click()
            : closing == 1 ? QTest::keyClick(w.app.err_windows, Qt::Key_Escape)
                           : void(w.app.err_windows->close());
            QVERIFY(!w.app.err_windows->isVisible() && spinning(w.app.progress));
            QTRY_VERIFY(w.app.err_windows->isVisible() && w.calls("search") == closing + 2u);
        }
        w.app.err_windows->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(w.app.err_windows));
        QTest::keyClick(w.app.err_windows, Qt::Key_Q, Qt::ControlModifier);
        w.app.err_quit_button->click();
        QCOMPARE(w.exits, QList<int>({0, 0}));
    } // the controller's end wakes the search that waits for the window

    void addChecksSendsAndShowsEveryAnswer() {
        Window w;
        QVERIFY(w.found());
        for (const QString add :
             {" 8080 192.168.1.20", "web 0 192.168.1.20", "web 65536 192.168.1.20",
              "web 80 192.168.1"}) { // name, port, Forward to
            w.add(add.section(' ', 0, 0), add.section(' ', 1, 1), add.section(' ', 2));
            QVERIFY(w.app.add_windows->isVisible() && !w.app.add_error->text().isEmpty());
        }
        w.app.add_port_entry_cancel();
        w.locked(), w.results["add"].row = mapping("web", "8080", "7200");
        w.add("web", "8080"); // "Forward to" is this computer's address again
        QTRY_VERIFY(!w.app.add_windows->isVisible());
        QVERIFY(w.calls("add") == 1 && w.last("add") == "web 8080 TCP 192.168.1.20");
        QCOMPARE(w.row(0), cells(mapping("web", "8080", "7200"), "made here"));
        w.locked(), w.results["add"] = answer(Verdict::refused, "held by another");
        w.add("other web", "8080", "192.168.1.30");
        QTRY_COMPARE(w.app.add_error->text(), "held by another");
        QVERIFY(w.app.add_windows->isVisible() && w.rows() == 1);
        // Cancel stops the waiting, not the add: a late grant still reaches the table, and a
        // late failure the main window.
        for (const QString late : {"", "no answer"}) {
            const Verdict verdict = late.isEmpty() ? Verdict::done : Verdict::unreachable;
            w.locked(), w.results["add"] = answer(verdict, late, mapping("game", "27015"));
            w.add("game", "27015"); // its answer waits for the main thread
            QVERIFY(spinning(w.app.add_progress) && spinning(w.app.adding_progress));
            QVERIFY(!w.app.add_windows_ok_button->isEnabled());
            w.app.add_windows_cancel_button->click();
            QVERIFY(w.idle() && w.rows() == 2 && !w.app.add_windows->isVisible());
            QCOMPARE(w.app.command_message->text(), late);
        }
        // Renewed between a half and five eighths of its lease (the chance says a half); a router
        // that does not answer is asked again 5 s later.
        QTimer* keeper = w.app.findChild<QTimer*>("keeper");
        QTRY_VERIFY(keeper->isActive() && keeper->interval() == 3600 * 1000);
        w.locked(), w.results["renew"] = answer(Verdict::unreachable);
        w.now += std::chrono::hours(1), keeper->start(0);
        QTRY_VERIFY(keeper->interval() == 5000 && w.last("renew") == "8080 TCP");
    }

    void airportDialogAndItsMappingsThroughARefresh() {
        Window w(RouterKind::natpmp);
        w.outcome.public_address = "11.87.0.2";
        // What QuayMap made there: asked for again, which shows it.
        w.record = {made("voice", 9987, false)};
        w.results["add"].row = mapping("voice", "9987");
        QVERIFY(w.found());
        QVERIFY(w.app.apple_router && !w.app.nat_warning->isVisible());
        QTRY_COMPARE(w.row(0), cells(mapping("voice", "9987"), "made here"));
        QCOMPARE(w.last("add"), "voice 9987 TCP 192.168.1.20");
        w.locked(), w.results["add"].row = mapping("game", "27016");
        w.add("game", "27015");
        QVERIFY(w.app.internal_ip->isReadOnly() && w.app.add_notice1->isVisible());
        QTRY_COMPARE(w.rows(), size_t(2));
        QCOMPARE(w.row(1)[1], "27016");             // the port the gateway granted
        QCOMPARE(w.last("add"), "game 27015 TCP "); // NAT-PMP maps to the asker only
        w.app.refresh_button->click();
        QVERIFY(w.idle() && w.calls("list") == 2 && w.rows() == 2); // it lists nothing
    }

    void whatQuayMapMadeIsMarkedAndPutBackAfterARestart() {
        Window w(RouterKind::igd1,
                 {mapping("web", "8080"), mapping("ssh", "22"), mapping("dns", "53")});
        // Kept open: asked for again as the router is found; only made here: as listed.
        w.record = {made("web", 8080, false), made("ssh", 22, true, 0)};
        w.results["add"].row = mapping("ssh", "22");
        QVERIFY(w.found());
        QTRY_COMPARE(w.row(1), cells(mapping("ssh", "22"), "kept"));
        QCOMPARE(w.row(0).last() + w.row(2).last(), "made here");
        QVERIFY(w.calls("add", 1) == 1 && w.last("add") == "ssh 22 TCP 192.168.1.20 kept");
        w.locked(), w.results["add"].row = mapping("game", "27015");
        w.add("game", "27015", {}, true);
        QTRY_COMPARE(w.rows(), size_t(4));
        QCOMPARE(w.row(3), cells(mapping("game", "27015"), "kept"));
        QCOMPARE(w.last("add"), "game 27015 TCP 192.168.1.20 kept");
        // web is deleted, then the router restarts: what it lost is put back, but web.
        w.app.table->selectRow(0), w.app.delete_button->click();
        QTRY_COMPARE(w.rows(), size_t(3));
        w.locked(), w.restart = "its BOOTID.UPNP.ORG went from 1 to 2";
        w.app.findChild<QTimer*>("keeper")->start(0);
        QTRY_COMPARE(w.calls("add"), size_t(4));  // ssh and game again
        QVERIFY(w.idle() && w.calls("add") == 4); // web never
    }

    void refreshMergesAndDeleteWaitsForTheRouter() {
        Window w(RouterKind::igd1,
                 {mapping("web", "8080"), mapping("ssh", "22"), mapping("ftp", "21")});
        QVERIFY(w.found());
        w.app.table->selectRow(1);
        w.locked(),
            w.results["public_address"].address = "100.64.0.7",
            w.listing = {mapping("web server", "8080"), mapping("ssh", "22"), mapping("dns", "53")};
        StdoutCapture out;
        w.app.refresh_button->click();
        QVERIFY(w.idle() && w.ui.mainWindow()->isVisible());
        QVERIFY(w.rows() == 3 && w.row(0)[0] == "web server" && w.row(2)[0] == "dns");
        QCOMPARE(w.app.table->selectionModel()->selectedRows().value(0).data(), "ssh");
        QCOMPARE(w.app.public_address->text(), "Public address: 100.64.0.7");
        QCOMPARE(w.app.nat_warning->text().toStdString(), double_nat_warning("100.64.0.7"));
        QVERIFY(out.text().contains("the public ip address is 100.64.0.7\n"));
        w.app.copy_address_button->click();
        QCOMPARE(QGuiApplication::clipboard()->text(), "100.64.0.7");
        // A row goes only when the router confirmed; otherwise the window says why not.
        w.app.table->clearSelection();
        w.app.delete_button->click(); // nothing selected: nothing sent
        for (const Verdict verdict : {Verdict::refused, Verdict::unreachable, Verdict::invalid}) {
            w.locked(), w.results["remove"] = answer(verdict, QString::number(int(verdict)));
            w.app.table->selectRow(0);
            QTest::keyClick(w.app.table, Qt::Key_Delete);
            QTRY_COMPARE(w.app.command_message->text(), QString::number(int(verdict)));
            QCOMPARE(w.rows(), size_t(3));
        }
        w.locked(), w.results["remove"] = {};
        w.app.table->sortByColumn(0, Qt::AscendingOrder); // dns, ssh, web server
        w.app.table->selectRow(2);
        w.app.delete_button->click();
        QTRY_COMPARE(w.rows(), size_t(2));
        QVERIFY(w.calls("remove") == 4 && w.last("remove") == "8080 TCP");
        w.locked(), w.results["public_address"] = answer(Verdict::refused, "no address"),
                    w.results["list"] = answer(Verdict::unreachable, "no answer"),
                    w.listing.clear(); // a listing that failed drops no row
        w.app.syncRouter();
        QVERIFY(w.idle() && w.rows() == 2 && !w.app.copy_address_button->isVisible());
        QCOMPARE(w.app.public_address->text() + w.app.command_message->text(),
                 "no addressno answer");
        // Nor does one that skipped entries the router would not give.
        auto& u = (w.results["list"] = {}).unread;
        u = {{1, "", 0, "A"}, {2, "", 0, "A"}, {-1, "U", 9, "x"}, {7, "", 0, "y"}, {9, "", 0, "y"}};
        w.app.syncRouter();
        QVERIFY(w.idle() && w.rows() == 2);
        QCOMPARE(w.app.command_message->text(),
                 "The router did not list every mapping (entries 2 to 3: A; U ports 9 to 65535: x; "
                 "entry 8: y; 1 more).");
        // A router that did not answer for its address is not asked for its table too.
        w.locked(), w.results["public_address"].verdict = Verdict::unreachable;
        w.app.syncRouter();
        QVERIFY(w.idle() && w.calls("list") == 4);
    }

    void commandsGoOutBesideARefreshAndKeepWhatTheyChanged() {
        Window w(RouterKind::igd1, {mapping("ssh", "22")});
        w.results["add"].row = mapping("web", "8080", "7200");
        QVERIFY(w.found());
        w.add("web", "8080");
        QTimer* keeper = w.app.findChild<QTimer*>("keeper");
        QTRY_VERIFY(w.rows() == 2 && keeper->isActive()); // its renewal is timed
        // Its renewal due behind its delete; a refresh that lists it no more goes past both.
        w.allow("remove", 0), w.app.table->selectRow(1), w.app.delete_button->click();
        w.now += std::chrono::hours(1), keeper->start(0);
        QTRY_VERIFY(w.calls("remove") == 1 && !keeper->isActive());
        QPointer<Port_Entry> web = w.app.entries[1].get();
        w.app.refresh_button->click();
        QTRY_VERIFY(web.isNull()); // no job holds a row: gone at once, here
        w.allow("remove", -1);
        QVERIFY(w.idle() && w.calls("renew") == 0); // never put back on the router
        // An add and a delete go out while a refresh reads, which keeps what they changed.
        w.allow("row", 0), w.app.refresh_button->click();
        QCOMPARE(w.calls("row", 3), size_t(3)); // "ssh" is being read
        w.add("web", "8080");
        QTRY_COMPARE(w.rows(), size_t(2));
        w.app.table->selectRow(0), w.app.delete_button->click();
        QTRY_COMPARE(w.rows(), size_t(1));
        w.allow("row", -1);
        QVERIFY(w.idle() && w.rows() == 1 && w.row(0)[0] == "web");
    }

    void fieldsKeepTheirCharacters() {
        // Field, keys ('|' empties the field, '<' puts the cursor after two), text, beeps.
        for (const char* line :
             {"port 8080k 8080 1", "port 443|q 443 1", "port 8080<x 80x80 0", "port 80. 80 1",
              "internal_ip 10.0.0.1/ 10.0.0.1 1", "name web2x web2x 0"}) {
            const QStringList c = QString(line).split(' ');
            Window w;
            QVERIFY(w.start());
            auto* edit = w.app.add_windows->findChild<QLineEdit*>(c[0]);
            for (const QChar key : c[1])
                key == '|'   ? edit->clear()
                : key == '<' ? edit->setCursorPosition(2)
                             : QTest::keyClick(edit, key.toLatin1());
            QVERIFY(edit->text() == c[2] && w.beeps == c[3].toInt());
        }
    }

    void closeQuitAndAccessibleNames() {
        Window w(RouterKind::igd1, {mapping("web", "8080")});
        w.allow("row", 0); // a thread waits for the router
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
