#include "EngineSettings.h"
#include "Interface.h"
#include "cwdAppDelegate.h"
#include "myApp.h"

#include <QApplication>
#include <QDir>
#include <QMainWindow>
#include <QStandardPaths>
#include <cstdio>
#include <cstdlib>

namespace {

// Where the UPnP client keeps "quaymap.log": the documents folder, or the home folder on a
// desktop without one.
std::string logFolder() {
    QString folder = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (folder.isEmpty() || !QDir(folder).exists())
        folder = QDir::homePath();
    return QDir::toNativeSeparators(folder).toStdString();
}

} // namespace

int main(int argc, char* argv[]) {
    quaymap::EngineSettings settings;
    settings.log_folder = logFolder();
    settings.console = stdout; // the router's answers, for whoever started QuayMap from a shell
    const std::unique_ptr<quaymap::Engine> engine = quaymap::make_engine(settings);
    // The search runs while the toolkit starts, which takes about as long as a router to answer.
    auto controller = std::make_unique<myApp>(*engine);
    controller->searchAhead();

    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QuayMap"));
    Interface interface;
    cwdAppDelegate delegate;
    delegate.setWindow(interface.mainWindow());
    if (!controller->bindInterface(interface.windows())) {
        std::fflush(stdout);
        std::_Exit(1); // the search may still run, and uses what a return would destroy
    }
    controller->awakeFromNib();
    QApplication::setQuitOnLastWindowClosed(
        controller->applicationShouldTerminateAfterLastWindowClosed(&application));
    interface.mainWindow()->show();
    delegate.applicationDidFinishLaunching();

    const int status = application.exec();
    // A search or a command may still wait on a silent network; the process ends without
    // waiting for it (and without destroying what it uses).
    if (controller->backgroundWorkRunning()) {
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(status);
    }
    controller.reset(); // before the windows and the toolkit it was made before
    return status;
}
