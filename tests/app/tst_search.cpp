// The router search: its four outcomes, the NAT-PMP wait and its cap, the error window and the
// searches that closing it starts.
#include "AppHarness.h"

static const QString kTrying = QStringLiteral("trying to find Apple router!!!");

// A NAT-PMP gateway's script, and what the first search leaves: the transmission answered (0:
// the error window shows), how many went out, at least how long it took on the gateway's clock,
// and its log lines without the wait's own.
struct NatPmpCase {
    int initResult, sendResult, readError, answered, transmissions, waitedMs;
    QStringList logs;
};
Q_DECLARE_METATYPE(NatPmpCase)

class SearchTest : public QObject {
    Q_OBJECT

  private slots:
    void upnpGateway_data() {
        QTest::addColumn<bool>("wanService");
        QTest::addColumn<int>("mappings"); // how many of the sample mappings the router holds
        QTest::newRow("service found") << true << 4;
        QTest::newRow("no mappings") << true << 0;
        QTest::newRow("no WAN service") << false << 4;
    }
    void upnpGateway() {
        QFETCH(bool, wanService);
        QFETCH(int, mappings);
        // A TCP and a UDP mapping of one application, and one without a description.
        const std::vector<fakegw::Entry> sample = {
            {"8080", "TCP", "80", "192.168.1.20", "web"},
            {"27015", "TCP", "27015", "192.168.1.21", "game"},
            {"27015", "UDP", "27015", "192.168.1.21", "game"},
            {"22", "TCP", "22", "192.168.1.22", ""}};
        AppHarness h;
        fakegw::DescriptionOptions options;
        options.friendly_name = "Harbour Router";
        if (!wanService)
            options.service_type = "urn:schemas-upnp-org:service:Layer3Forwarding:1";
        h.gateway.set_description_text(fakegw::igd_description(options));
        h.gateway.set_entries({sample.begin(), sample.begin() + mappings});
        StdoutCapture out;
        h.start();
        QVERIFY(spinning(h.app->progress));
        QVERIFY(!shown(h.app->router_name));
        QVERIFY(h.waitIdle());
        const std::string printed = out.take();

        // Without the service: no name, no error, and the indicator keeps spinning.
        QCOMPARE(shown(h.app->router_name), wanService);
        QCOMPARE(h.app->router_name->text(), wanService ? "Harbour Router" : QString());
        QCOMPARE(shown(h.app->progress), !wanService);
        QCOMPARE(spinning(h.app->progress), !wanService);
        QCOMPARE(router_found.load(), wanService);
        QVERIFY(!apple_router);
        QVERIFY(!h.app->err_windows->isVisible());
        QCOMPARE(h.natpmp.inits.load(), 0); // no NAT-PMP once a UPnP gateway answered
        const int rows = wanService ? mappings : 0;
        QCOMPARE(h.app->numberOfRowsInTableView(), rows);
        QCOMPARE(h.app->table->model()->rowCount(), rows);
        std::string names;
        for (int i = 0; i < rows; ++i) {
            const fakegw::Entry& e = sample[static_cast<std::size_t>(i)];
            QCOMPARE(h.row(i), QStringList({e.description.c_str(), e.external_port.c_str(),
                                            e.protocol.c_str(), e.internal_client.c_str()}));
            names += "the forwading name is " + e.description + "\n";
        }
        QVERIFY(printed.find(names) != std::string::npos);
        QCOMPARE(printed.find("forwading") != std::string::npos, rows > 0);
        // The add dialog offers this computer's address towards the router.
        const QString lan = wanService ? "127.0.0.1" : "";
        QCOMPARE(h.app->internal_ip->text(), lan);
        QCOMPARE(h.app->last_ip, lan);
    }

    void natpmpGateway_data() {
        QTest::addColumn<NatPmpCase>("c");
        const QStringList sent = {kTrying, "find Apple router!!!",
                                  "try to send public ip address request, find Apple router!!!",
                                  "sended public ip address request"};
        QTest::newRow("answers at once") << NatPmpCase{0, 2, 0, 1, 1, 0, sent};
        QTest::newRow("answers the third") << NatPmpCase{0, 2, 0, 3, 3, 500, sent};
        // libnatpmp alone would send nine; the give-up follows a deadline after the third.
        QTest::newRow("silent: three transmissions") << NatPmpCase{0, 2, 0, 0, 3, 1000, sent};
        QTest::newRow("refuses") << NatPmpCase{0, 2, NATPMP_ERR_NOGATEWAYSUPPORT, 0, 1, 0, sent};
        QTest::newRow("no gateway") << NatPmpCase{
            NATPMP_ERR_CANNOTGETGATEWAY, 2, 0, 0, 0, 0, {kTrying, "can not find Apple router!!!"}};
        QTest::newRow("incomplete request") << NatPmpCase{
            0, 1, 0, 0, 0, 0, sent.mid(0, 3) << "send public ip address request error!!!"};
    }
    void natpmpGateway() {
        QFETCH(NatPmpCase, c);
        AppHarness h;
        h.gateway.set_ssdp_answers({});
        h.natpmp.init_result = c.initResult;
        h.natpmp.send_result = c.sendResult;
        h.natpmp.read_error = c.readError;
        h.natpmp.answer_on_transmission = c.answered;
        // The error window shows what the first search left. Closed from its title bar (Escape
        // does not end it) it starts a search that fails again and comes back; closed with its
        // button it starts one that meets an AirPort station.
        int errorWindows = 0;
        bool stateKept = c.answered > 0, closedAndSpinning = c.answered > 0;
        int sent = -1;
        long long waited = -1;
        QStringList logsSeen;
        const auto firstSearchEnded = [&] {
            sent = h.natpmp.transmissions;
            waited = h.natpmp.now_ms;
            logsSeen = h.logs();
        };
        const auto errorShown = [&] { return h.app->err_windows->isVisible(); };
        std::function<void()> onError = [&] {
            if (++errorWindows == 1) {
                firstSearchEnded();
                stateKept = !router_found && !shown(h.app->router_name) && shown(h.app->progress) &&
                            !spinning(h.app->progress) &&
                            h.app->err_windows->focusWidget() == h.app->manual_url;
                QTest::keyClick(h.app->err_windows, Qt::Key_Escape);
                const bool escapeIgnored = h.app->err_windows->isVisible();
                h.app->err_windows->close();
                closedAndSpinning =
                    escapeIgnored && !h.app->err_windows->isVisible() && spinning(h.app->progress);
                whenReady(errorShown, onError);
                return;
            }
            h.natpmp.init_result = 0;
            h.natpmp.send_result = 2;
            h.natpmp.read_error = 0;
            h.natpmp.answer_on_transmission = 1;
            h.app->close_err_window->click();
        };
        if (c.answered == 0)
            whenReady(errorShown, onError);
        h.start();
        QVERIFY(QTest::qWaitFor([] { return apple_router.load(); }, 10000));
        QVERIFY(h.waitIdle());
        if (c.answered > 0)
            firstSearchEnded();
        QVERIFY(stateKept);
        QVERIFY(closedAndSpinning);
        logsSeen.removeAll(QStringLiteral("geted timeout func"));
        QCOMPARE(logsSeen, c.logs);
        QCOMPARE(sent, c.transmissions);
        QVERIFY(waited >= c.waitedMs);
        // Each search makes one SSDP search and one NAT-PMP attempt; nothing twice.
        const int searches = c.answered > 0 ? 1 : 3;
        QCOMPARE(errorWindows, searches - 1);
        QCOMPARE(int(h.gateway.ssdp_requests().size()), searches);
        QCOMPARE(h.natpmp.inits.load(), searches);
        QCOMPARE(h.logs().count(kTrying), searches);
        QVERIFY(router_found);
        QCOMPARE(h.app->router_name->text(), QStringLiteral("AirPort Station"));
        QVERIFY(shown(h.app->router_name));
        QVERIFY(!shown(h.app->progress));
        QVERIFY(!h.app->err_windows->isVisible());
        QCOMPARE(h.app->numberOfRowsInTableView(), 0);
    }
};

QTEST_MAIN(SearchTest)
#include "tst_search.moc"
