#include "EngineSettings.h"
#include "Interface.h"
#include "cwdAppDelegate.h"
#include "myApp.h"
#include "record.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QIcon>
#include <QMainWindow>
#include <QStandardPaths>
#include <QStringList>
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

void describeOptions(QCommandLineParser& parser) {
    parser.setApplicationDescription(
        QStringLiteral("Lists, adds and deletes the port mappings of the home router."));
    // A word after one dash is the toolkit's (-platform, -reverse), not a row of letters that
    // could hold an h or a v.
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addHelpOption();
    parser.addVersionOption();
}

// --help and --version print and end the process here, before the search or a window starts.
// The toolkit's own options are unknown until it starts, so only these decide now.
void answerHelpOrVersion(int argc, char* argv[]) {
    QCommandLineParser parser;
    describeOptions(parser);
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    parser.parse(arguments);
    for (const char* option : {"version", "help-all", "help"}) {
        if (!parser.isSet(QLatin1String(option)))
            continue;
        QCoreApplication core(argc, argv); // the parser prints through it, then ends the process
        parser.process({arguments.constFirst(), QLatin1String("--") + QLatin1String(option)});
    }
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QStringLiteral("QuayMap"));
    QCoreApplication::setApplicationVersion(QStringLiteral(QUAYMAP_VERSION));
    answerHelpOrVersion(argc, argv);

    quaymap::EngineSettings settings;
    settings.log_folder = logFolder();
    settings.console = stdout; // the router's answers, for whoever started QuayMap from a shell
    settings.record_folder = quaymap::default_record_folder();
    const std::unique_ptr<quaymap::Engine> engine = quaymap::make_engine(settings);
    // The search runs while the toolkit starts, which takes about as long as a router to answer.
    auto controller = std::make_unique<myApp>(*engine);
    controller->searchAhead();

    QApplication application(argc, argv);
    QCommandLineParser options;
    describeOptions(options);
    if (!options.parse(QApplication::arguments())) {
        std::fprintf(stderr, "quaymap: %s\n", qPrintable(options.errorText()));
        std::fflush(stdout);
        std::_Exit(2); // the search may still run, and uses what a return would destroy
    }
    // The desktop's icon theme first, else the one built in (a build that was not installed).
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("quaymap"), QIcon(QStringLiteral(":/quaymap.svg"))));
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
