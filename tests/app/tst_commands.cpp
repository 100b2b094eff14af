// The commands of the windows: the add dialog and its field filters, delete, refresh, the
// AirPort station's mappings, the help window and the ways out of the application.
#include "AppHarness.h"
#include "UpnpNat.h"

#include <future>

class CommandsTest : public QObject {
    Q_OBJECT

  private slots:
    void fieldFilters() {
        // In typed, '|' empties the field and '<' puts the cursor after two characters; last is
        // last_ip for the address, else last_port.
        struct Case {
            const char *field, *typed, *text, *last;
            int beeps;
        };
        const Case cases[] = {
            {"port", "8080k", "8080", "8080", 1},    // 8, 0, 8, 0 then a letter
            {"port", "443|q", "443", "443", 1},      // cleared field then a letter
            {"port", "8080<x", "80x80", "80x80", 0}, // a letter in the middle
            {"port", "80.", "80", "80", 1},          // a dot is no part of a port
            {"internal_ip", "|192.168.1.20/", "192.168.1.20", "192.168.1.20", 1},
            {"name", "web 2", "web 2", "", 0}, // the command leaves other fields alone
        };
        for (const Case& c : cases) {
            AppHarness h;
            QVERIFY(h.startWithGateway({}));
            h.app->add_windows->show();
            auto* edit = h.app->add_windows->findChild<QLineEdit*>(c.field);
            for (const char* key = c.typed; *key; ++key) {
                if (*key == '|') {
                    QTest::keyClick(edit, Qt::Key_A, Qt::ControlModifier);
                    QTest::keyClick(edit, Qt::Key_Backspace);
                } else if (*key == '<') {
                    edit->setCursorPosition(2);
                } else {
                    QTest::keyClick(edit, *key);
                }
            }
            h.app->controlTextDidChange(edit);
            QCOMPARE(edit->text(), QString(c.text));
            QCOMPARE(edit == h.app->internal_ip ? h.app->last_ip : h.app->last_port,
                     QString(c.last));
            QCOMPARE(h.beeps, c.beeps);
        }
    }

    void addAndRefreshDoNothingBeforeARouterIsFound() {
        AppHarness h;
        QVERIFY(h.app->bindInterface(h.ui.windows()));
        h.ui.mainWindow()->show();
        StdoutCapture out;
        h.app->add_port_entry();
        h.app->syncRouter();
        QTest::qWait(50);
        QVERIFY(out.take().empty());
        QVERIFY(!h.app->add_windows->isVisible());
        QVERIFY(h.logs().isEmpty());
        QVERIFY(h.ui.mainWindow()->isVisible());
        QVERIFY(!h.app->backgroundWorkRunning());
        QCOMPARE(h.gateway.connections(), std::size_t(0));
    }

    void addSendsTheDialogsValuesOrShowsWhyNot() {
        AppHarness h;
        QVERIFY(h.startWithGateway({{"8080", "TCP", "80", "192.168.1.20", "web"}}));
        // Values are checked before anything is sent; the dialog stays open with the problem.
        const char* const cases[][4] = {
            {"", "8081", "192.168.1.20", "name"},     {"   ", "8081", "192.168.1.20", "name"},
            {"web", "", "192.168.1.20", "port"},      {"web", "0", "192.168.1.20", "port"},
            {"web", "65536", "192.168.1.20", "port"}, {"web", "80x80", "192.168.1.20", "port"},
            {"web", "8081", "192.168.1", "address"},  {"web", "8081", "192.168.1.256", "address"},
            {"web", "8081", "", "address"},
        };
        for (const auto& c : cases) {
            const QString problem = h.addThroughDialog(c[0], c[1], c[2], "TCP");
            QVERIFY2(problem.contains(QLatin1String(c[3])),
                     qPrintable(problem + " for " + c[0] + "/" + c[1] + "/" + c[2]));
        }
        QVERIFY(h.gateway.requests_for("AddPortMapping").empty());
        // A refusal shows the router's error code and description.
        QString problem = h.addThroughDialog("other web", "8080", "192.168.1.30", "TCP");
        QVERIFY2(problem.contains(QLatin1String("718 ConflictInMappingEntry")),
                 qPrintable(problem));

        h.clearLogs();
        QCOMPARE(h.addThroughDialog("game server", "27015", "192.168.1.21", "UDP"), QString());
        QVERIFY(!h.app->add_windows->isVisible());
        QCOMPARE(h.logs(), QStringList({"The apple router is false"}));
        // The name is the description; the one port is both external and internal port.
        const auto requests = h.gateway.requests_for("AddPortMapping");
        QCOMPARE(requests.size(), std::size_t(2));
        const std::pair<const char*, const char*> sent[] = {
            {"NewPortMappingDescription", "game server"},
            {"NewExternalPort", "27015"},
            {"NewInternalPort", "27015"},
            {"NewInternalClient", "192.168.1.21"},
            {"NewProtocol", "UDP"},
        };
        for (const auto& [argument, value] : sent)
            QCOMPARE(requests[1].argument(argument).value_or("(none)"), std::string(value));
        QCOMPARE(h.gateway.entries().size(), std::size_t(2));
        QCOMPARE(h.app->table->model()->rowCount(), 2);
        QCOMPARE(h.row(1), QStringList({"game server", "27015", "UDP", "192.168.1.21"}));
        // The client keeps its "quaymap.log" in the documents folder.
        QCOMPARE(QString::fromStdString(upnp_nat.log_folder),
                 QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation));

        // Without an answer, the client's text.
        h.gateway.stop_http();
        problem = h.addThroughDialog("web", "8081", "192.168.1.20", "TCP");
        QVERIFY2(problem.contains(QLatin1String("Fail to connect to 127.0.0.1:")),
                 qPrintable(problem));
        QCOMPARE(h.app->numberOfRowsInTableView(), 2);
    }

    void deleteSendsTheLow16BitsOfTheSelectedRowsPort() {
        AppHarness h;
        QVERIFY(h.startWithGateway({{"8080", "TCP", "80", "192.168.1.20", "web"},
                                    {"4464", "UDP", "4464", "192.168.1.20", "voice"}}));
        // No selection: nothing at all.
        h.app->table->clearSelection();
        h.clearLogs();
        h.app->delete_port_entry();
        QVERIFY(!h.app->backgroundWorkRunning());
        QVERIFY(h.logs().isEmpty());

        h.app->entries[1]->setListen_port(QStringLiteral("70000"));
        h.app->table->selectRow(1);
        h.app->delete_port_entry();
        QVERIFY(h.waitIdle());
        QCOMPARE(h.logs(), QStringList({"the select row is 1"}));
        const auto requests = h.gateway.requests_for("DeletePortMapping");
        QCOMPARE(requests.size(), std::size_t(1));
        QCOMPARE(requests[0].argument("NewExternalPort").value_or(""), std::string("4464"));
        QCOMPARE(requests[0].argument("NewProtocol").value_or(""), std::string("UDP"));
        QCOMPARE(h.gateway.entries().size(), std::size_t(1));
        QCOMPARE(h.app->numberOfRowsInTableView(), 1);
        QCOMPARE(h.row(0).first(), QStringLiteral("web"));

        // A router that cannot be reached still loses the row from the table.
        h.gateway.stop_http();
        h.app->table->selectRow(0);
        h.app->delete_port_entry();
        QVERIFY(h.waitIdle(20000));
        QCOMPARE(h.app->numberOfRowsInTableView(), 0);
    }

    void refreshLeavesTheWindowResponsiveAndShowsThePublicAddress() {
        AppHarness h;
        QVERIFY(h.startWithGateway({{"8080", "TCP", "80", "192.168.1.20", "web"}}));
        h.ui.mainWindow()->show();
        h.gateway.set_external_ip("198.51.100.4");
        std::promise<void> release;
        std::shared_future<void> released = release.get_future().share();
        std::atomic<bool> asked{false};
        h.gateway.set_handler(
            [released, &asked](const fakegw::Request& request) -> std::optional<fakegw::Reply> {
                if (request.action == "GetExternalIPAddress") {
                    asked = true;
                    released.wait();
                }
                return std::nullopt;
            });
        StdoutCapture out;
        h.app->refresh_button->click();
        // The command has returned while the router has not answered; the window goes on.
        QTRY_VERIFY(asked.load());
        bool timerRan = false;
        QTimer::singleShot(0, [&] { timerRan = true; });
        QTRY_VERIFY(timerRan);
        QVERIFY(shown(h.app->adding_progress));
        QVERIFY(!h.app->refresh_button->isEnabled() && !h.app->delete_button->isEnabled());
        // A delete issued meanwhile waits for the refresh and then runs.
        h.app->table->selectRow(0);
        h.app->delete_port_entry();
        QCOMPARE(h.app->numberOfRowsInTableView(), 1);
        QVERIFY(h.app->public_address->text().isEmpty());
        release.set_value();
        QTRY_VERIFY(h.app->public_address->text().contains(QLatin1String("198.51.100.4")));
        QVERIFY(h.waitIdle());
        QCOMPARE(h.app->numberOfRowsInTableView(), 0);
        QVERIFY(h.app->refresh_button->isEnabled() && h.app->add_button->isEnabled());
        QVERIFY(!shown(h.app->adding_progress));
        QVERIFY(h.ui.mainWindow()->isVisible());
        QCOMPARE(h.gateway.requests_for("GetGenericPortMappingEntry").size(), std::size_t(2));
        // An address that cannot be read is said so, in the window and on standard output.
        h.gateway.script("GetExternalIPAddress", fakegw::soap_fault(501, "ActionFailed"));
        h.app->syncRouter();
        QVERIFY(h.waitIdle());
        QVERIFY(h.app->public_address->text().contains(QLatin1String("could not be read")));
        const std::string printed = out.take();
        const std::size_t first = printed.find("the public ip address is 198.51.100.4\n");
        QVERIFY(first != std::string::npos);
        QVERIFY(printed.find("the public ip address is \n", first) != std::string::npos);
    }

    void airportAddDeleteAndRenewal() {
        AppHarness h;
        QVERIFY(h.startWithAirPort());
        h.natpmp.public_port_offset = 5;
        h.natpmp.granted_lifetime = 3000;
        h.clearLogs();
        // The dialog fixes the address and says what the base station does.
        bool fixed = false;
        const QString problem = h.addThroughDialog("game", "27015", "", "UDP", [&] {
            fixed = h.app->internal_ip->text() == QLatin1String("Localhost") &&
                    h.app->internal_ip->isReadOnly() && h.app->add_notice1->isVisible() &&
                    !h.app->add_notice1->text().isEmpty();
        });
        QCOMPARE(problem, QString());
        QVERIFY(fixed);
        QVERIFY(!h.logs().contains(QStringLiteral("The apple router is false")));
        QStringList asked = {"UDP 27015 27015 7200"}; // never lifetime 0, which deletes
        QCOMPARE(h.natpmp.mapping_requests(), asked);
        // The granted public port is the row's port.
        QCOMPARE(h.app->numberOfRowsInTableView(), 1);
        QCOMPARE(h.row(0), QStringList({"game", "27020", "UDP", "Localhost"}));

        // Renewed at half the granted lifetime, asking for the public port it holds.
        QTimer* renewal = h.app->findChild<QTimer*>(QStringLiteral("renewal"));
        QVERIFY(renewal && renewal->isActive());
        QCOMPARE(renewal->interval(), 1500 * 1000);
        renewal->start(1);
        QTRY_COMPARE(h.natpmp.mapping_requests().size(), 2);
        QVERIFY(h.waitIdle());
        QCOMPARE(h.natpmp.mapping_requests(), asked << "UDP 27015 27020 7200");
        QVERIFY(renewal->isActive());

        // Deleting sends lifetime 0 for the private port and removes the row and its renewal.
        h.app->table->selectRow(0);
        h.app->delete_port_entry();
        QVERIFY(h.waitIdle());
        QCOMPARE(h.app->numberOfRowsInTableView(), 0);
        QCOMPARE(h.natpmp.mapping_requests(), asked << "UDP 27015 0 0");
        QVERIFY(!h.app->findChild<QTimer*>(QStringLiteral("renewal")));
        QCOMPARE(h.gateway.requests_for("AddPortMapping").size(), std::size_t(0));
    }

    void airportStrayAnswerIsNoGrant() {
        AppHarness h;
        QVERIFY(h.startWithAirPort());
        // libnatpmp matches no answer to its request: an answer of another kind (a late
        // address answer) must not show up as a granted mapping.
        h.natpmp.stray_answer = true;
        const QString problem = h.addThroughDialog("game", "27015", "", "TCP", [] {});
        QVERIFY(problem.contains(QString::number(kNatPmpStrayAnswer)));
        QCOMPARE(h.app->numberOfRowsInTableView(), 0);
    }

    void linkFieldsShowHttpAndHoldTheirTargets() {
        AppHarness h;
        h.start();
        // The vendor link's target names the "safari" scheme, which the link field opens in the
        // browser as the http address it shows.
        QCOMPARE(h.app->manual_url->stringValue(),
                 QStringLiteral("http://www.tp-link.com/network-product.php"));
        QVERIFY(h.app->manual_url->attributedStringValue().toHtml().contains(
            QLatin1String("href=\"safari://www.tp-link.com/network-product.php\"")));
        for (DSClickableURLTextField* field :
             {h.app->help_url1, h.app->help_url2, h.app->help_url3}) {
            const QString text = field->stringValue();
            QVERIFY(text.startsWith(QLatin1String("http://")));
            QVERIFY(field->attributedStringValue().toHtml().contains("href=\"" + text + "\""));
        }
        QVERIFY(h.app->help_url1->stringValue().endsWith(
            QLatin1String("/services/managed_dns/free_dynamic_dns.html")));
        QCOMPARE(QUrl(h.app->help_url2->stringValue()).path(), QStringLiteral("/"));
        QCOMPARE(QUrl(h.app->help_url3->stringValue()).path(), QStringLiteral("/"));
    }

    void helpWindowComesToTheFrontCentred() {
        AppHarness h;
        h.start();
        const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
        const QString first = h.app->help_url1->stringValue();
        for (int round = 0; round < 2; ++round) {
            h.app->help_url_windows->move(0, 0);
            h.app->show_help_url_windows_button->click();
            QVERIFY(h.app->help_url_windows->isVisible());
            const QPoint centre = h.app->help_url_windows->frameGeometry().center();
            QVERIFY((centre - screenCentre).manhattanLength() <= 4);
        }
        // Hidden with its button and opened again, it shows the same links.
        h.app->help_url_ok_button->click();
        QVERIFY(!h.app->help_url_windows->isVisible());
        h.app->show_help_url_windows();
        QCOMPARE(h.app->help_url1->stringValue(), first);
    }

    void closeCommandsEndTheProcess() {
        AppHarness h;
        h.start();
        h.ui.mainWindow()->show();
        h.app->close_button->click();
        QCOMPARE(h.app->quit_action->shortcut(), QKeySequence(QStringLiteral("Ctrl+Q")));
        h.app->quit_action->trigger();
        QCOMPARE(h.exits, QList<int>({0, 0}));
        QCOMPARE(h.terminations, 0);
        // The main window's close, also with the help window open, ends the application.
        h.app->show_help_url_windows();
        QVERIFY(!h.ui.mainWindow()->close()); // redirected, not carried out
        QCOMPARE(h.terminations, 1);
        QCOMPARE(h.exits.size(), 2);
        QVERIFY(h.app->applicationShouldTerminateAfterLastWindowClosed(nullptr));
    }

    void closeEndsTheProcessAtOnce() {
        for (const QString moment : {"running", "idle"}) {
            QProcess probe;
            QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
            environment.insert("QT_QPA_PLATFORM", "offscreen");
            environment.insert("LSAN_OPTIONS", "suppressions=" LSAN_SUPPRESSIONS);
            probe.setProcessEnvironment(environment);
            probe.start(QStringLiteral(CLOSE_PROBE), {moment});
            QVERIFY(probe.waitForFinished(15000)); // far below the running search's half minute
            const QString out = probe.readAllStandardOutput(), err = probe.readAllStandardError();
            QCOMPARE(probe.exitStatus(), QProcess::NormalExit);
            QCOMPARE(probe.exitCode(), 0);
            QVERIFY2(out.contains(moment == "running" ? "search running" : "search ended"),
                     qPrintable(out));
            QVERIFY2(!err.contains("Sanitizer") && !err.contains("runtime error"), qPrintable(err));
        }
    }
};

QTEST_MAIN(CommandsTest)
#include "tst_commands.moc"
