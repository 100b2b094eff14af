// Starts the controller against a silent fake router and issues close: with the default way
// out, while the search still waits in discovery ("running") or after it has ended ("idle").
// The process must end at once with status 0, with nothing printed by the sanitizers.
#include "AppHarness.h"
#include "UpnpNat.h"

#include <QApplication>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <cstring>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    const bool running = argc > 1 && std::strcmp(argv[1], "running") == 0;
    AppHarness h;
    h.gateway.set_ssdp_answers({});
    h.natpmp.answer_on_transmission = 1;
    if (running)
        upnp_nat.timings.ssdp_wait_ms = 5000; // discovery then lasts half a minute
    h.app->restoreDefaultHooks();
    h.start();
    if (!running && !h.waitIdle())
        return 3;
    QTest::qWait(100);
    std::printf("closing with a search %s\n", h.app->backgroundWorkRunning() ? "running" : "ended");
    h.app->close_button->click();
    return 2; // not reached: close: ends the process
}
