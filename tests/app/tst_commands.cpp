// The commands of the windows: the add dialog and its field filters, delete, refresh, the
// AirPort station's mappings, the help window and the ways out of the application.
#include "AppHarness.h"
#include "DSClickableURLTextField.h"
#include "RouterState.h"
#include "URLOpener.h"
#include "UpnpNat.h"

#include <QAction>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QGuiApplication>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QStandardPaths>
#include <QTableView>
#include <QTest>
#include <QTextDocument>
#include <QTimer>
#include <future>

using fakegw::Entry;
using fakegw::Reply;
using fakegw::Request;

namespace {

// Starts the harness against a UPnP gateway holding the given mappings and waits for the table.
void startWithGateway(AppHarness& h, std::vector<Entry> entries) {
    const std::size_t count = entries.size();
    h.gateway.set_entries(std::move(entries));
    h.start();
    QVERIFY(h.waitIdle());
    QTRY_VERIFY(router_found);
    QTRY_COMPARE(h.app->numberOfRowsInTableView(), static_cast<int>(count));
}

void startWithAirPort(AppHarness& h) {
    silenceUpnp(h.gateway);
    h.natpmp.answer_on_transmission = 1;
    h.start();
    QVERIFY(h.waitIdle());
    QTRY_VERIFY(apple_router);
}

// Runs the add dialog: fills it once it shows, presses OK, and returns when the dialog has
// closed. When the dialog stays open (a problem was shown), the problem text is recorded and
// the dialog cancelled.
struct AddOutcome {
    bool shown = false;
    QString problem;
};
AddOutcome runAddDialog(AppHarness& h, const QString& mappingName, const QString& portText,
                        const QString& address, const QString& protocolText) {
    auto outcome = std::make_shared<AddOutcome>();
    myApp& app = *h.app;
    whenReady([&app] { return app.add_windows->isVisible(); },
              [=, &app] {
                  outcome->shown = true;
                  app.name->setText(mappingName);
                  app.port->setText(portText);
                  if (!app.internal_ip->isReadOnly())
                      app.internal_ip->setText(address);
                  app.protocol->setCurrentText(protocolText);
                  app.add_error->clear();
                  app.add_windows_ok_button->click();
                  // Either the dialog closes (success) or it shows a problem and stays open.
                  whenReady(
                      [&app] {
                          return !app.add_windows->isVisible() || !app.add_error->text().isEmpty();
                      },
                      [outcome, &app] {
                          if (!app.add_windows->isVisible())
                              return;
                          outcome->problem = app.add_error->text();
                          app.add_windows_cancel_button->click();
                      });
              });
    app.add_port_entry();
    QTest::qWait(20); // lets the last poll see the closed dialog and end
    return *outcome;
}

QString cellText(myApp& app, const char* identifier, int row) {
    return app.objectValueForTableColumn(QLatin1String(identifier), row).toString();
}

} // namespace

class CommandsTest : public QObject {
    Q_OBJECT

  private slots:
    // Field filters.
    void portAcceptsDigitsAndRefusesALetter();
    void clearedPortThenALetterGoesBackToTheLastText();
    void textEndingInADigitIsAcceptedWhole();
    void addressAcceptsDigitsAndDots();
    void otherFieldsAreNotFiltered();

    // Before a router is found.
    void addAndRefreshDoNothingBeforeARouterIsFound();

    // Adding to a UPnP gateway.
    void addReachesTheGatewayAndAddsTheRow();
    void addChecksItsValuesBeforeSending();
    void refusedAddShowsTheRoutersReason();
    void addWithoutAnAnswerShowsTheClientsText();

    // Deleting.
    void deleteSendsTheLow16BitsOfThePort();
    void deleteWithoutSelectionDoesNothing();
    void deleteRemovesTheRowWhenTheGatewayIsGone();

    // Refresh.
    void refreshShowsThePublicAddress();
    void refreshThatFailsSaysSo();
    void slowRouterLeavesTheWindowResponsive();

    // AirPort base station.
    void airportDialogFixesTheAddress();
    void airportAddDeleteAndRenewal();

    // Help and error window links, termination.
    void linkFieldsHoldTheirLinks();
    void vendorLinkOpensInTheBrowserAsHttp();
    void helpWindowComesToTheFrontCentred();
    void closeCommandsEndTheProcess();
    void mainWindowCloseEndsTheApplication();
    void closeEndsTheProcessAtOnce_data();
    void closeEndsTheProcessAtOnce();
};

// ---- field filters ----

void CommandsTest::portAcceptsDigitsAndRefusesALetter() {
    AppHarness h;
    h.start();
    h.app->add_windows->show();
    QTest::keyClicks(h.app->port, "8080");
    QCOMPARE(h.app->last_port, QStringLiteral("8080"));
    QCOMPARE(h.beeps, 0);
    QTest::keyClicks(h.app->port, "k");
    QCOMPARE(h.app->port->text(), QStringLiteral("8080"));
    QCOMPARE(h.app->last_port, QStringLiteral("8080"));
    QCOMPARE(h.beeps, 1);
    h.app->add_windows->hide();
    QVERIFY(h.waitIdle());
}

void CommandsTest::clearedPortThenALetterGoesBackToTheLastText() {
    AppHarness h;
    h.start();
    h.app->add_windows->show();
    QTest::keyClicks(h.app->port, "443");
    QTest::keyClick(h.app->port, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(h.app->port, Qt::Key_Backspace);
    QCOMPARE(h.app->port->text(), QString());
    QCOMPARE(h.app->last_port, QStringLiteral("443")); // an empty field changes nothing
    QCOMPARE(h.beeps, 0);
    QTest::keyClicks(h.app->port, "q");
    QCOMPARE(h.app->port->text(), QStringLiteral("443"));
    QCOMPARE(h.beeps, 1);
    h.app->add_windows->hide();
    QVERIFY(h.waitIdle());
}

void CommandsTest::textEndingInADigitIsAcceptedWhole() {
    AppHarness h;
    h.start();
    h.app->add_windows->show();
    QTest::keyClicks(h.app->port, "8080");
    h.app->port->setCursorPosition(2);
    QTest::keyClicks(h.app->port, "x");
    QCOMPARE(h.app->port->text(), QStringLiteral("80x80"));
    QCOMPARE(h.app->last_port, QStringLiteral("80x80"));
    QCOMPARE(h.beeps, 0);
    h.app->add_windows->hide();
    QVERIFY(h.waitIdle());
}

void CommandsTest::addressAcceptsDigitsAndDots() {
    AppHarness h;
    h.start();
    QVERIFY(h.waitIdle());
    h.app->add_windows->show();
    h.app->internal_ip->clear();
    QTest::keyClicks(h.app->internal_ip, "192.168.1.20");
    QCOMPARE(h.app->last_ip, QStringLiteral("192.168.1.20"));
    QCOMPARE(h.beeps, 0);
    QTest::keyClicks(h.app->internal_ip, "/");
    QCOMPARE(h.app->internal_ip->text(), QStringLiteral("192.168.1.20"));
    QCOMPARE(h.beeps, 1);
    // A dot is no part of a port.
    QTest::keyClicks(h.app->port, "80.");
    QCOMPARE(h.app->port->text(), QStringLiteral("80"));
    QCOMPARE(h.beeps, 2);
    h.app->add_windows->hide();
}

void CommandsTest::otherFieldsAreNotFiltered() {
    AppHarness h;
    h.start();
    h.app->add_windows->show();
    QTest::keyClicks(h.app->name, "web 2");
    h.app->controlTextDidChange(h.app->name);
    QCOMPARE(h.app->name->text(), QStringLiteral("web 2"));
    QCOMPARE(h.app->last_port, QString(""));
    QCOMPARE(h.beeps, 0);
    h.app->add_windows->hide();
    QVERIFY(h.waitIdle());
}

// ---- before a router is found ----

void CommandsTest::addAndRefreshDoNothingBeforeARouterIsFound() {
    AppHarness h;
    QVERIFY(h.app->bindInterface(h.ui.windows()));
    h.ui.mainWindow()->show();
    StdoutCapture out;
    out.start();
    h.app->add_port_entry();
    h.app->syncRouter();
    QTest::qWait(50);
    const std::string printed = out.stop();
    QVERIFY(!h.app->add_windows->isVisible());
    QVERIFY(h.logs().isEmpty());
    QVERIFY(printed.empty());
    QVERIFY(h.ui.mainWindow()->isVisible());
    QVERIFY(!h.app->backgroundWorkRunning());
    QCOMPARE(h.gateway.connections(), std::size_t(0));
}

// ---- adding ----

void CommandsTest::addReachesTheGatewayAndAddsTheRow() {
    AppHarness h;
    startWithGateway(h, {mapping("22", "TCP", "22", "192.168.1.22", "ssh")});
    h.clearLogs();
    const AddOutcome outcome = runAddDialog(h, "game server", "27015", "192.168.1.21", "UDP");
    QVERIFY(outcome.shown);
    QCOMPARE(outcome.problem, QString());
    QVERIFY(!h.app->add_windows->isVisible());
    QCOMPARE(h.logs(), QStringList({"The apple router is false"}));

    const auto requests = h.gateway.requests_for("AddPortMapping");
    QCOMPARE(requests.size(), std::size_t(1));
    QCOMPARE(*requests[0].argument("NewPortMappingDescription"), std::string("game server"));
    QCOMPARE(*requests[0].argument("NewExternalPort"), std::string("27015"));
    QCOMPARE(*requests[0].argument("NewInternalPort"), std::string("27015"));
    QCOMPARE(*requests[0].argument("NewInternalClient"), std::string("192.168.1.21"));
    QCOMPARE(*requests[0].argument("NewProtocol"), std::string("UDP"));
    QCOMPARE(h.gateway.entries().size(), std::size_t(2));

    QCOMPARE(h.app->numberOfRowsInTableView(), 2);
    QCOMPARE(cellText(*h.app, "Name", 1), QStringLiteral("game server"));
    QCOMPARE(cellText(*h.app, "Listen_port", 1), QStringLiteral("27015"));
    QCOMPARE(cellText(*h.app, "Protocol", 1), QStringLiteral("UDP"));
    QCOMPARE(cellText(*h.app, "IP", 1), QStringLiteral("192.168.1.21"));
    QCOMPARE(h.app->table->model()->rowCount(), 2);
    // The router's answer is kept in "quaymap.log" in the documents folder.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    QCOMPARE(QString::fromStdString(upnp_nat.log_folder), documents);
    QFile log(documents + QStringLiteral("/quaymap.log"));
    QVERIFY(log.open(QIODevice::ReadOnly));
    QVERIFY(log.readAll().startsWith("HTTP/1.1 200 OK"));
    // The dialog keeps its values for the next opening.
    QCOMPARE(h.app->name->text(), QStringLiteral("game server"));
    QVERIFY(!h.app->adding_progress->isVisibleTo(h.app->main_windows));
    QVERIFY(h.app->add_button->isEnabled());
}

void CommandsTest::addChecksItsValuesBeforeSending() {
    AppHarness h;
    startWithGateway(h, {});
    struct Case {
        const char* name;
        const char* port;
        const char* address;
        const char* problem;
    };
    const Case cases[] = {
        {"", "8080", "192.168.1.20", "name"},     {"   ", "8080", "192.168.1.20", "name"},
        {"web", "", "192.168.1.20", "port"},      {"web", "0", "192.168.1.20", "port"},
        {"web", "65536", "192.168.1.20", "port"}, {"web", "80x80", "192.168.1.20", "port"},
        {"web", "8080", "192.168.1", "address"},  {"web", "8080", "192.168.1.256", "address"},
        {"web", "8080", "", "address"},
    };
    for (const Case& c : cases) {
        const AddOutcome outcome = runAddDialog(h, c.name, c.port, c.address, "TCP");
        QVERIFY2(outcome.problem.contains(QLatin1String(c.problem)),
                 qPrintable(outcome.problem + " for " + c.name + "/" + c.port + "/" + c.address));
    }
    QCOMPARE(h.gateway.requests_for("AddPortMapping").size(), std::size_t(0));
    QCOMPARE(h.app->numberOfRowsInTableView(), 0);
}

void CommandsTest::refusedAddShowsTheRoutersReason() {
    AppHarness h;
    startWithGateway(h, {mapping("8080", "TCP", "80", "192.168.1.20", "web")});
    const AddOutcome outcome = runAddDialog(h, "other web", "8080", "192.168.1.30", "TCP");
    QVERIFY(outcome.problem.contains(QLatin1String("718 ConflictInMappingEntry")));
    QCOMPARE(h.gateway.requests_for("AddPortMapping").size(), std::size_t(1));
    QCOMPARE(h.app->numberOfRowsInTableView(), 1);
    QCOMPARE(h.gateway.entries().size(), std::size_t(1));
}

void CommandsTest::addWithoutAnAnswerShowsTheClientsText() {
    AppHarness h;
    startWithGateway(h, {});
    h.gateway.stop_http();
    const AddOutcome outcome = runAddDialog(h, "web", "8080", "192.168.1.20", "TCP");
    QVERIFY2(outcome.problem.contains(QLatin1String("Fail to connect to 127.0.0.1:")),
             qPrintable(outcome.problem));
    QCOMPARE(h.app->numberOfRowsInTableView(), 0);
}

// ---- deleting ----

void CommandsTest::deleteSendsTheLow16BitsOfThePort() {
    AppHarness h;
    startWithGateway(h, {mapping("8080", "TCP", "80", "192.168.1.20", "web"),
                         mapping("4464", "UDP", "4464", "192.168.1.20", "voice")});
    h.app->entries[1]->setListen_port(QStringLiteral("70000"));
    h.app->table->selectRow(1);
    h.clearLogs();
    h.app->delete_port_entry();
    QVERIFY(h.waitIdle());
    QTRY_COMPARE(h.app->numberOfRowsInTableView(), 1);
    QCOMPARE(h.logs(), QStringList({"the select row is 1"}));
    const auto requests = h.gateway.requests_for("DeletePortMapping");
    QCOMPARE(requests.size(), std::size_t(1));
    QCOMPARE(*requests[0].argument("NewExternalPort"), std::string("4464"));
    QCOMPARE(*requests[0].argument("NewProtocol"), std::string("UDP"));
    QCOMPARE(cellText(*h.app, "Name", 0), QStringLiteral("web"));
    QCOMPARE(h.gateway.entries().size(), std::size_t(1));
}

void CommandsTest::deleteWithoutSelectionDoesNothing() {
    AppHarness h;
    startWithGateway(h, {mapping("8080", "TCP", "80", "192.168.1.20", "web")});
    h.app->table->clearSelection();
    h.clearLogs();
    const std::size_t before = h.gateway.connections();
    h.app->delete_port_entry();
    QTest::qWait(30);
    QVERIFY(!h.app->backgroundWorkRunning());
    QCOMPARE(h.app->numberOfRowsInTableView(), 1);
    QCOMPARE(h.gateway.connections(), before);
    QVERIFY(h.logs().isEmpty());
}

void CommandsTest::deleteRemovesTheRowWhenTheGatewayIsGone() {
    AppHarness h;
    startWithGateway(h, {mapping("8080", "TCP", "80", "192.168.1.20", "web"),
                         mapping("22", "TCP", "22", "192.168.1.22", "ssh")});
    h.gateway.stop_http();
    h.app->table->selectRow(0);
    h.app->delete_port_entry();
    QVERIFY(h.waitIdle(20000));
    QTRY_COMPARE(h.app->numberOfRowsInTableView(), 1);
    QCOMPARE(cellText(*h.app, "Name", 0), QStringLiteral("ssh"));
}

// ---- refresh ----

void CommandsTest::refreshShowsThePublicAddress() {
    AppHarness h;
    startWithGateway(h, {});
    h.ui.mainWindow()->show();
    h.gateway.set_external_ip("203.0.113.7");
    StdoutCapture out;
    out.start();
    h.app->refresh_button->click();
    QVERIFY(h.waitIdle());
    QTRY_VERIFY(h.app->public_address->text().contains(QLatin1String("203.0.113.7")));
    const std::string printed = out.stop();
    QVERIFY(printed.find("the public ip address is 203.0.113.7\n") != std::string::npos);
    QVERIFY(h.ui.mainWindow()->isVisible());
    QCOMPARE(h.app->numberOfRowsInTableView(), 0);
    QCOMPARE(h.gateway.requests_for("GetGenericPortMappingEntry").size(), std::size_t(1));
}

void CommandsTest::refreshThatFailsSaysSo() {
    AppHarness h;
    startWithGateway(h, {});
    h.gateway.script("GetExternalIPAddress", fakegw::soap_fault(501, "ActionFailed"));
    StdoutCapture out;
    out.start();
    h.app->syncRouter();
    QVERIFY(h.waitIdle());
    QTRY_VERIFY(!h.app->public_address->text().isEmpty());
    const std::string printed = out.stop();
    QVERIFY(h.app->public_address->text().contains(QLatin1String("could not be read")));
    QVERIFY(printed.find("the public ip address is \n") != std::string::npos);
}

void CommandsTest::slowRouterLeavesTheWindowResponsive() {
    AppHarness h;
    startWithGateway(h, {mapping("8080", "TCP", "80", "192.168.1.20", "web")});
    h.gateway.set_external_ip("198.51.100.4");
    std::promise<void> release;
    std::shared_future<void> released = release.get_future().share();
    std::atomic<bool> asked{false};
    h.gateway.set_handler([released, &asked](const Request& request) -> std::optional<Reply> {
        if (request.action == "GetExternalIPAddress") {
            asked = true;
            released.wait();
        }
        return std::nullopt;
    });
    h.app->syncRouter();
    // The command has returned while the router has not answered; the window goes on.
    QTRY_VERIFY(asked.load());
    bool timerRan = false;
    QTimer::singleShot(0, [&] { timerRan = true; });
    QTRY_VERIFY(timerRan);
    QVERIFY(h.app->adding_progress->isVisibleTo(h.app->main_windows));
    QVERIFY(!h.app->refresh_button->isEnabled());
    QVERIFY(!h.app->delete_button->isEnabled());
    // A delete issued meanwhile waits for the refresh and then runs.
    h.app->table->selectRow(0);
    h.app->delete_port_entry();
    QCOMPARE(h.app->numberOfRowsInTableView(), 1);
    QVERIFY(h.app->public_address->text().isEmpty());
    release.set_value();
    QTRY_VERIFY(h.app->public_address->text().contains(QLatin1String("198.51.100.4")));
    QVERIFY(h.waitIdle());
    QTRY_COMPARE(h.app->numberOfRowsInTableView(), 0);
    QTRY_VERIFY(h.app->refresh_button->isEnabled());
    QVERIFY(!h.app->adding_progress->isVisibleTo(h.app->main_windows));
}

// ---- AirPort base station ----

void CommandsTest::airportDialogFixesTheAddress() {
    AppHarness h;
    startWithAirPort(h);
    h.clearLogs();
    bool checked = false;
    whenReady([&] { return h.app->add_windows->isVisible(); },
              [&] {
                  QCOMPARE(h.app->internal_ip->text(), QStringLiteral("Localhost"));
                  QVERIFY(h.app->internal_ip->isReadOnly());
                  QVERIFY(h.app->add_notice1->isVisible());
                  QVERIFY(!h.app->add_notice1->text().isEmpty());
                  checked = true;
                  h.app->add_windows_cancel_button->click();
              });
    h.app->add_port_entry();
    QVERIFY(checked);
    QVERIFY(h.logs().isEmpty());
    QVERIFY(!h.app->add_windows->isVisible());
}

void CommandsTest::airportAddDeleteAndRenewal() {
    AppHarness h;
    startWithAirPort(h);
    h.natpmp.public_port_offset = 5;
    h.natpmp.granted_lifetime = 3000;
    const AddOutcome outcome = runAddDialog(h, "game", "27015", "", "UDP");
    QCOMPARE(outcome.problem, QString());
    auto requests = h.natpmp.mapping_requests();
    QCOMPARE(requests.size(), std::size_t(1));
    QCOMPARE(requests[0].protocol, NATPMP_PROTOCOL_UDP);
    QCOMPARE(requests[0].private_port, uint16_t(27015));
    QCOMPARE(requests[0].public_port, uint16_t(27015));
    QCOMPARE(requests[0].lifetime, uint32_t(7200));

    QCOMPARE(h.app->numberOfRowsInTableView(), 1);
    QCOMPARE(cellText(*h.app, "Name", 0), QStringLiteral("game"));
    QCOMPARE(cellText(*h.app, "Listen_port", 0), QStringLiteral("27020"));
    QCOMPARE(cellText(*h.app, "Protocol", 0), QStringLiteral("UDP"));
    QCOMPARE(cellText(*h.app, "IP", 0), QStringLiteral("Localhost"));

    // Renewed at half the granted lifetime, asking for the public port it holds.
    QTimer* renewal = h.app->findChild<QTimer*>(QStringLiteral("renewal"));
    QVERIFY(renewal);
    QVERIFY(renewal->isActive());
    QCOMPARE(renewal->interval(), 1500 * 1000);
    renewal->start(1);
    QTRY_COMPARE(h.natpmp.mapping_requests().size(), std::size_t(2));
    QVERIFY(h.waitIdle());
    requests = h.natpmp.mapping_requests();
    QCOMPARE(requests[1].private_port, uint16_t(27015));
    QCOMPARE(requests[1].public_port, uint16_t(27020));
    QCOMPARE(requests[1].lifetime, uint32_t(7200));
    QTRY_VERIFY(renewal->isActive());

    // Deleting sends lifetime 0 for the private port and removes the row.
    h.app->table->selectRow(0);
    h.app->delete_port_entry();
    QVERIFY(h.waitIdle());
    QTRY_COMPARE(h.app->numberOfRowsInTableView(), 0);
    requests = h.natpmp.mapping_requests();
    QCOMPARE(requests.size(), std::size_t(3));
    QCOMPARE(requests[2].private_port, uint16_t(27015));
    QCOMPARE(requests[2].public_port, uint16_t(0));
    QCOMPARE(requests[2].lifetime, uint32_t(0));
    QVERIFY(!h.app->findChild<QTimer*>(QStringLiteral("renewal")));
    // No lifetime 0 ever went out with an add.
    QCOMPARE(h.gateway.requests_for("AddPortMapping").size(), std::size_t(0));
}

// ---- links, help window, termination ----

void CommandsTest::linkFieldsHoldTheirLinks() {
    AppHarness h;
    h.start();
    const QString vendor = h.app->manual_url->attributedStringValue().toHtml();
    QCOMPARE(h.app->manual_url->stringValue(),
             QStringLiteral("http://www.tp-link.com/network-product.php"));
    QVERIFY(vendor.contains(QLatin1String("safari://www.tp-link.com/network-product.php")));
    QVERIFY(h.app->help_url1->stringValue().endsWith(
        QLatin1String("/services/managed_dns/free_dynamic_dns.html")));
    QVERIFY(h.app->help_url1->stringValue().startsWith(QLatin1String("http://")));
    for (DSClickableURLTextField* field : {h.app->help_url2, h.app->help_url3}) {
        const QString text = field->stringValue();
        QVERIFY(text.startsWith(QLatin1String("http://")));
        QCOMPARE(text.indexOf(QLatin1Char('/'), 7), text.size() - 1);
        QVERIFY(field->attributedStringValue().toHtml().contains(text));
    }
    QVERIFY(h.waitIdle());
}

void CommandsTest::vendorLinkOpensInTheBrowserAsHttp() {
    AppHarness h;
    h.start();
    QList<QUrl> opened;
    URLOpener::setHandler([&opened](const QUrl& url) {
        opened.append(url);
        return true;
    });
    h.app->err_windows->show();
    for (DSClickableURLTextField* field :
         {h.app->manual_url, h.app->help_url1, h.app->help_url2, h.app->help_url3}) {
        if (field != h.app->manual_url)
            h.app->help_url_windows->show();
        field->resetCursorRects();
        QVERIFY(!field->cursorRects().isEmpty());
        const QPoint onLink = field->cursorRects().first().center().toPoint();
        QTest::mouseClick(field, Qt::LeftButton, Qt::NoModifier, onLink);
    }
    URLOpener::setHandler({});
    h.app->err_windows->hide();
    h.app->help_url_windows->hide();
    QCOMPARE(opened.size(), 4);
    QCOMPARE(opened[0], QUrl(QStringLiteral("http://www.tp-link.com/network-product.php")));
    QCOMPARE(opened[1].toString(), h.app->help_url1->stringValue());
    QCOMPARE(opened[2].toString(), h.app->help_url2->stringValue());
    QCOMPARE(opened[3].toString(), h.app->help_url3->stringValue());
    QVERIFY(h.waitIdle());
}

void CommandsTest::helpWindowComesToTheFrontCentred() {
    AppHarness h;
    h.start();
    const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
    for (int round = 0; round < 2; ++round) {
        h.app->help_url_windows->move(0, 0);
        h.app->show_help_url_windows_button->click();
        QVERIFY(h.app->help_url_windows->isVisible());
        const QPoint centre = h.app->help_url_windows->frameGeometry().center();
        QVERIFY((centre - screenCentre).manhattanLength() <= 4);
    }
    const QString first = h.app->help_url1->stringValue();
    h.app->help_url_ok_button->click();
    QVERIFY(!h.app->help_url_windows->isVisible());
    h.app->show_help_url_windows();
    QCOMPARE(h.app->help_url1->stringValue(), first);
    QVERIFY(h.waitIdle());
}

void CommandsTest::closeCommandsEndTheProcess() {
    AppHarness h;
    h.start();
    h.app->close_button->click();
    QCOMPARE(h.exits, QList<int>({0}));
    QVERIFY(h.app->quit_action);
    QCOMPARE(h.app->quit_action->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
    h.app->quit_action->trigger();
    QCOMPARE(h.exits, QList<int>({0, 0}));
    QCOMPARE(h.terminations, 0);
    QVERIFY(h.app->applicationShouldTerminateAfterLastWindowClosed(nullptr));
    QVERIFY(h.waitIdle());
}

void CommandsTest::mainWindowCloseEndsTheApplication() {
    AppHarness h;
    h.start();
    h.ui.mainWindow()->show();
    h.app->show_help_url_windows();
    QVERIFY(!h.ui.mainWindow()->close()); // the close is redirected, not carried out
    QCOMPARE(h.terminations, 1);
    QVERIFY(h.exits.isEmpty());
    QVERIFY(h.waitIdle());
}

void CommandsTest::closeEndsTheProcessAtOnce_data() {
    QTest::addColumn<QString>("moment");
    QTest::newRow("search running") << QStringLiteral("running");
    QTest::newRow("search ended") << QStringLiteral("idle");
}

void CommandsTest::closeEndsTheProcessAtOnce() {
    QFETCH(QString, moment);
    QProcess probe;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    environment.insert(QStringLiteral("LSAN_OPTIONS"),
                       QStringLiteral("suppressions=" LSAN_SUPPRESSIONS));
    probe.setProcessEnvironment(environment);
    probe.start(QStringLiteral(CLOSE_PROBE), {moment});
    // Far below the half minute the running search would still take.
    QVERIFY(probe.waitForFinished(15000));
    const QString out = QString::fromLocal8Bit(probe.readAllStandardOutput());
    const QString err = QString::fromLocal8Bit(probe.readAllStandardError());
    QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
    QCOMPARE(probe.exitCode(), 0);
    QVERIFY2(out.contains(moment == QLatin1String("running") ? QLatin1String("search running")
                                                             : QLatin1String("search ended")),
             qPrintable(out));
    QVERIFY2(!err.contains(QLatin1String("Sanitizer")) &&
                 !err.contains(QLatin1String("runtime error")),
             qPrintable(err));
}

QTEST_MAIN(CommandsTest)
#include "tst_commands.moc"
