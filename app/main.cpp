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
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("QuayMap"));

    quaymap::EngineSettings settings;
    settings.log_folder = logFolder();
    settings.console = stdout; // the router's answers, for whoever started QuayMap from a shell
    const std::unique_ptr<quaymap::Engine> engine = quaymap::make_engine(settings);
    Interface interface;
    cwdAppDelegate delegate;
    myApp controller(*engine);
    delegate.setWindow(interface.mainWindow());
    if (!controller.bindInterface(interface.windows()))
        return 1;
    controller.awakeFromNib();
    QApplication::setQuitOnLastWindowClosed(
        controller.applicationShouldTerminateAfterLastWindowClosed(&application));
    interface.mainWindow()->show();
    delegate.applicationDidFinishLaunching();

    const int status = application.exec();
    // A search or a command may still wait on a silent network; the process ends without
    // waiting for it (and without destroying what it uses).
    if (controller.backgroundWorkRunning()) {
        std::fflush(stdout);
        std::fflush(stderr);
        std::_Exit(status);
    }
    return status;
}
