// The router search: its four outcomes, the NAT-PMP wait and its cap, the error window and the
// search that closing it starts.
#include "AppHarness.h"
#include "DSClickableURLTextField.h"
#include "RouterState.h"

#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <QTest>

using fakegw::Entry;

namespace {

bool spinning(const QProgressBar* bar) {
    return bar->isVisibleTo(bar->window()) && bar->maximum() == 0;
}
bool stoppedButShown(const QProgressBar* bar) {
    return bar->isVisibleTo(bar->window()) && bar->maximum() != 0;
}

QStringList column(myApp& app, const char* identifier) {
    QStringList values;
    for (int row = 0; row < app.numberOfRowsInTableView(); ++row)
        values << app.objectValueForTableColumn(QLatin1String(identifier), row).toString();
    return values;
}

// The NAT-PMP lines of one attempt, in order, without the wait's own lines.
QStringList natpmpLines(const QStringList& logs) {
    QStringList lines;
    for (const QString& line : logs)
        if (line != QLatin1String("geted timeout func"))
            lines << line;
    return lines;
}

} // namespace

class SearchTest : public QObject {
    Q_OBJECT

  private slots:
    void gatewayShowsItsNameAndEveryMapping();
    void gatewayWithoutMappingsShowsAnEmptyTable();
    void gatewayWithoutWanServiceKeepsSpinning();
    void airportStationAnsweringAtOnce();
    void airportStationAnsweringTheThirdTransmission();
    void silentGatewayGetsThreeTransmissions();
    void gatewayRefusingNatPmpShowsTheErrorWindow();
    void noGatewayAtAllShowsTheErrorWindow();
    void incompleteRequestShowsTheErrorWindow();
    void closingTheErrorWindowSearchesAgain();
    void errorWindowTitleBarCloseAlsoSearchesAgain();
};

void SearchTest::gatewayShowsItsNameAndEveryMapping() {
    AppHarness h;
    fakegw::DescriptionOptions options;
    options.friendly_name = "Harbour Router";
    h.gateway.set_description_text(fakegw::igd_description(options));
    h.gateway.set_entries({mapping("8080", "TCP", "80", "192.168.1.20", "web"),
                           mapping("27015", "TCP", "27015", "192.168.1.21", "game"),
                           mapping("27015", "UDP", "27015", "192.168.1.21", "game"),
                           mapping("22", "TCP", "22", "192.168.1.22", "")});
    StdoutCapture out;
    out.start();
    h.start();
    QVERIFY(spinning(h.app->progress));
    QVERIFY(!h.app->router_name->isVisibleTo(h.app->main_windows));
    QVERIFY(h.waitIdle());
    QTRY_COMPARE(h.app->numberOfRowsInTableView(), 4);
    const std::string printed = out.stop();

    QCOMPARE(h.app->router_name->text(), QStringLiteral("Harbour Router"));
    QVERIFY(h.app->router_name->isVisibleTo(h.app->main_windows));
    QVERIFY(!h.app->progress->isVisibleTo(h.app->main_windows));
    QVERIFY(router_found);
    QVERIFY(!apple_router);
    QCOMPARE(column(*h.app, "Name"), QStringList({"web", "game", "game", ""}));
    QCOMPARE(column(*h.app, "Listen_port"), QStringList({"8080", "27015", "27015", "22"}));
    QCOMPARE(column(*h.app, "Protocol"), QStringList({"TCP", "TCP", "UDP", "TCP"}));
    QCOMPARE(column(*h.app, "IP"),
             QStringList({"192.168.1.20", "192.168.1.21", "192.168.1.21", "192.168.1.22"}));
    QCOMPARE(h.app->table->model()->rowCount(), 4);
    QVERIFY(printed.find("the forwading name is web\nthe forwading name is game\n"
                         "the forwading name is game\nthe forwading name is \n") !=
            std::string::npos);
    // No NAT-PMP once a UPnP gateway answered.
    QCOMPARE(h.natpmp.inits(), 0);
    QCOMPARE(h.countLogged("trying to find Apple router!!!"), 0);
    // The add dialog offers this computer's address towards the router.
    QCOMPARE(h.app->internal_ip->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(h.app->last_ip, QStringLiteral("127.0.0.1"));
}

void SearchTest::gatewayWithoutMappingsShowsAnEmptyTable() {
    AppHarness h;
    h.gateway.set_entries({});
    h.start();
    QVERIFY(h.waitIdle());
    QTRY_VERIFY(router_found);
    QCOMPARE(h.app->router_name->text(), QStringLiteral("Fake Gateway"));
    QCOMPARE(h.app->numberOfRowsInTableView(), 0);
    QVERIFY(!h.app->err_windows->isVisible());
}

void SearchTest::gatewayWithoutWanServiceKeepsSpinning() {
    AppHarness h;
    fakegw::DescriptionOptions options;
    options.service_type = "urn:schemas-upnp-org:service:Layer3Forwarding:1";
    h.gateway.set_description_text(fakegw::igd_description(options));
    h.start();
    QVERIFY(h.waitIdle());
    QTest::qWait(50);
    QVERIFY(!h.app->router_name->isVisibleTo(h.app->main_windows));
    QVERIFY(spinning(h.app->progress));
    QVERIFY(!router_found);
    QVERIFY(!apple_router);
    QVERIFY(!h.app->err_windows->isVisible());
    QCOMPARE(h.app->numberOfRowsInTableView(), 0);
    QCOMPARE(h.natpmp.inits(), 0);
}

void SearchTest::airportStationAnsweringAtOnce() {
    AppHarness h;
    silenceUpnp(h.gateway);
    h.natpmp.answer_on_transmission = 1;
    h.start();
    QVERIFY(h.waitIdle());
    QTRY_VERIFY(apple_router);
    QVERIFY(router_found);
    QCOMPARE(h.app->router_name->text(), QStringLiteral("AirPort Station"));
    QVERIFY(h.app->router_name->isVisibleTo(h.app->main_windows));
    QVERIFY(!h.app->progress->isVisibleTo(h.app->main_windows));
    QCOMPARE(h.app->numberOfRowsInTableView(), 0);
    QCOMPARE(h.natpmp.transmissions(), 1);
    QCOMPARE(natpmpLines(h.logs()),
             QStringList({"trying to find Apple router!!!", "find Apple router!!!",
                          "try to send public ip address request, find Apple router!!!",
                          "sended public ip address request"}));
    QVERIFY(h.countLogged("geted timeout func") >= 1);
}

void SearchTest::airportStationAnsweringTheThirdTransmission() {
    AppHarness h;
    silenceUpnp(h.gateway);
    h.natpmp.answer_on_transmission = 3;
    h.start();
    QVERIFY(h.waitIdle());
    QTRY_VERIFY(apple_router);
    QCOMPARE(h.natpmp.transmissions(), 3);
    QCOMPARE(h.app->router_name->text(), QStringLiteral("AirPort Station"));
}

void SearchTest::silentGatewayGetsThreeTransmissions() {
    AppHarness h;
    silenceUpnp(h.gateway);
    bool errorShown = false;
    int transmissionsWhenShown = 0;
    whenReady([&] { return h.app->err_windows->isVisible(); },
              [&] {
                  errorShown = true;
                  transmissionsWhenShown = h.natpmp.transmissions();
                  QVERIFY(stoppedButShown(h.app->progress));
                  // Leave the modal run; the new search also meets a silent gateway.
                  h.natpmp.answer_on_transmission = 1;
                  h.app->close_err_window->click();
              });
    h.start();
    QTRY_VERIFY_WITH_TIMEOUT(errorShown, 10000);
    // The library alone would have sent nine; the application stops it at three, and a
    // give-up follows the deadline after the third (sent at 250 ms and 500 ms of the
    // gateway's clock; the give-up at 1 s).
    QCOMPARE(transmissionsWhenShown, 3);
    QVERIFY(h.natpmp.now_ms() - 1000000 >= 1000);
    QVERIFY(h.waitIdle());
    QTRY_VERIFY(apple_router);
}

void SearchTest::gatewayRefusingNatPmpShowsTheErrorWindow() {
    AppHarness h;
    silenceUpnp(h.gateway);
    h.natpmp.error_after_first = NATPMP_ERR_NOGATEWAYSUPPORT;
    bool errorShown = false;
    whenReady([&] { return h.app->err_windows->isVisible(); },
              [&] {
                  errorShown = true;
                  h.natpmp.error_after_first = 0;
                  h.natpmp.answer_on_transmission = 1;
                  h.app->close_err_window->click();
              });
    h.start();
    QTRY_VERIFY_WITH_TIMEOUT(errorShown, 10000);
    QVERIFY(h.waitIdle());
    QTRY_VERIFY(apple_router);
    QCOMPARE(h.countLogged("sended public ip address request"), 2);
}

void SearchTest::noGatewayAtAllShowsTheErrorWindow() {
    AppHarness h;
    silenceUpnp(h.gateway);
    h.natpmp.init_result = NATPMP_ERR_CANNOTGETGATEWAY;
    bool errorShown = false;
    QStringList logsWhenShown;
    bool linkFocused = false;
    whenReady([&] { return h.app->err_windows->isVisible(); },
              [&] {
                  errorShown = true;
                  logsWhenShown = h.logs();
                  linkFocused = h.app->err_windows->focusWidget() == h.app->manual_url;
                  QVERIFY(!router_found);
                  QVERIFY(!h.app->router_name->isVisibleTo(h.app->main_windows));
                  QVERIFY(stoppedButShown(h.app->progress));
                  h.natpmp.init_result = 0;
                  h.natpmp.answer_on_transmission = 1;
                  h.app->close_err_window->click();
              });
    h.start();
    QTRY_VERIFY_WITH_TIMEOUT(errorShown, 10000);
    QCOMPARE(logsWhenShown,
             QStringList({"trying to find Apple router!!!", "can not find Apple router!!!"}));
    QVERIFY(linkFocused);
    QVERIFY(h.waitIdle());
    QTRY_VERIFY(apple_router);
    QCOMPARE(h.natpmp.transmissions(), 1);
}

void SearchTest::incompleteRequestShowsTheErrorWindow() {
    AppHarness h;
    silenceUpnp(h.gateway);
    h.natpmp.send_result = 1;
    bool errorShown = false;
    QStringList logsWhenShown;
    whenReady([&] { return h.app->err_windows->isVisible(); },
              [&] {
                  errorShown = true;
                  logsWhenShown = h.logs();
                  h.natpmp.send_result = 2;
                  h.natpmp.answer_on_transmission = 1;
                  h.app->close_err_window->click();
              });
    h.start();
    QTRY_VERIFY_WITH_TIMEOUT(errorShown, 10000);
    QCOMPARE(logsWhenShown.last(), QStringLiteral("send public ip address request error!!!"));
    QVERIFY(h.waitIdle());
}

void SearchTest::closingTheErrorWindowSearchesAgain() {
    AppHarness h;
    silenceUpnp(h.gateway);
    h.natpmp.init_result = NATPMP_ERR_CANNOTGETGATEWAY;
    int shown = 0;
    std::size_t searchesWhenShownAgain = 0;
    bool spinningAfterClose = false;
    // The first close starts a search that fails again: the window comes back. The second
    // close lets the next search find the AirPort station.
    std::function<void()> onShown = [&] {
        ++shown;
        if (shown == 1) {
            h.app->close_err_window->click();
            spinningAfterClose = spinning(h.app->progress) && !h.app->err_windows->isVisible();
            whenReady([&] { return h.app->err_windows->isVisible(); }, onShown);
            return;
        }
        searchesWhenShownAgain = h.gateway.ssdp_requests().size();
        h.natpmp.init_result = 0;
        h.natpmp.answer_on_transmission = 1;
        h.app->close_err_window->click();
    };
    whenReady([&] { return h.app->err_windows->isVisible(); }, onShown);
    h.start();
    QTRY_VERIFY_WITH_TIMEOUT(shown == 2, 10000);
    QVERIFY(spinningAfterClose);
    QCOMPARE(searchesWhenShownAgain, std::size_t(2));
    QVERIFY(h.waitIdle());
    QTRY_VERIFY(apple_router);
    // Three searches, each with one SSDP search and one NAT-PMP attempt; nothing twice.
    QCOMPARE(h.gateway.ssdp_requests().size(), std::size_t(3));
    QCOMPARE(h.natpmp.inits(), 3);
    QCOMPARE(h.countLogged("trying to find Apple router!!!"), 3);
}

void SearchTest::errorWindowTitleBarCloseAlsoSearchesAgain() {
    AppHarness h;
    silenceUpnp(h.gateway);
    h.natpmp.init_result = NATPMP_ERR_CANNOTGETGATEWAY;
    bool closed = false;
    whenReady([&] { return h.app->err_windows->isVisible(); },
              [&] {
                  h.natpmp.init_result = 0;
                  h.natpmp.answer_on_transmission = 1;
                  // Escape does not end the modal run; the title-bar close does, as the button.
                  QTest::keyClick(h.app->err_windows, Qt::Key_Escape);
                  QVERIFY(h.app->err_windows->isVisible());
                  h.app->err_windows->close();
                  closed = true;
              });
    h.start();
    QTRY_VERIFY_WITH_TIMEOUT(closed, 10000);
    QVERIFY(h.waitIdle());
    QTRY_VERIFY(apple_router);
    QCOMPARE(h.natpmp.inits(), 2);
}

QTEST_MAIN(SearchTest)
#include "tst_search.moc"
