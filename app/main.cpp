#include "Interface.h"
#include "NatPmp.h"
#include "cwdAppDelegate.h"
#include "myApp.h"

#include <QApplication>
#include <QMainWindow>
#include <cstdio>
#include <cstdlib>

int main(int argc, char* argv[]) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QuayMap"));

    Interface interface;
    LibNatPmp natpmp;
    cwdAppDelegate delegate;
    myApp controller(natpmp);
    delegate.setWindow(interface.mainWindow());
    if (!controller.bindInterface(interface.windows()))
        return 1;
    controller.awakeFromNib();
    QApplication::setQuitOnLastWindowClosed(
        controller.applicationShouldTerminateAfterLastWindowClosed(&application));
    interface.mainWindow()->show();
    delegate.applicationDidFinishLaunching();

    const int status = application.exec();
    // A search may still be waiting on a silent network; the process ends without waiting
    // for it (and without destroying what it uses).
    if (controller.backgroundWorkRunning()) {
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(status);
    }
    return status;
}
