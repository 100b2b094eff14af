// The main window controller: binds the window elements, runs the engine's search and commands
// off the main thread and applies what they return to the windows.
//
// Threads: the main thread runs every command of the user, every change of a window and the
// table, and owns the rows. The search runs on a thread of its own (RouterSearch), commands
// (add, delete, the keeper's steps, a router chosen) one at a time in the command lane, listings
// in a lane of their own (Background). Workers hand back mappings and results, never rows; their
// effects reach the main thread in the order they were posted.
#pragma once

#include "Background.h"
#include "Engine.h"
#include "PortTableModel.h"
#include "Port_Entry.h"
#include "RouterSearch.h"

#include <QObject>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

class DSClickableURLTextField;
class QAction;
class QApplication;
class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QMainWindow;
class QProgressBar;
class QPushButton;
class QTableView;
class QWidget;
class QCheckBox;
class Keeping;

class myApp : public QObject {
    Q_OBJECT

  public:
    // The ways out of the process and to the desktop; tests replace them. The defaults end the
    // application, end the process, and sound the alert.
    struct Hooks {
        std::function<void()> terminate;
        std::function<void(int)> exitProcess;
        std::function<void()> beep;
    };

    // init: no rows yet. The engine (not owned) is used from worker threads.
    explicit myApp(quaymap::Engine& engine, QObject* parent = nullptr);
    ~myApp() override;

    // Binds every window element by its object name and connects the commands to the controls
    // named after them. False (and a log line) when one is missing.
    bool bindInterface(const QList<QWidget*>& windows);
    void awakeFromNib();
    // Starts the router search before the windows exist, even before the toolkit, which takes
    // longer to start than a router to answer; what it finds is shown once awakeFromNib has run.
    void searchAhead();

    Hooks& hooks() { return hooks_; }
    void restoreDefaultHooks();
    // Whether the search or a command still runs on a thread of its own.
    bool backgroundWorkRunning() const { return background_.running(); }
    PortTableModel* tableModel() const { return model_; }
    // What keeps the mappings QuayMap made; tests set its clock and chance.
    Keeping* keeping() const { return keeping_; }
    bool applicationShouldTerminateAfterLastWindowClosed(QApplication*) const { return true; }

    QMainWindow* main_windows = nullptr;
    QPushButton* add_button = nullptr;
    QPushButton* close_button = nullptr;
    QProgressBar* progress = nullptr;
    QProgressBar* adding_progress = nullptr;
    QLabel* router_name = nullptr;
    // Takes the place of router_name when more than one router answered.
    QComboBox* router_choice = nullptr;
    QDialog* err_windows = nullptr;
    DSClickableURLTextField* manual_url = nullptr;
    QPushButton* close_err_window = nullptr;
    QString last_port;
    QString last_ip;
    QPushButton* show_help_url_windows_button = nullptr;
    QDialog* help_url_windows = nullptr;
    DSClickableURLTextField* help_url1 = nullptr;
    DSClickableURLTextField* help_url2 = nullptr;
    DSClickableURLTextField* help_url3 = nullptr;
    QPushButton* help_url_ok_button = nullptr;
    QDialog* add_windows = nullptr;
    QPushButton* add_windows_ok_button = nullptr;
    QPushButton* add_windows_cancel_button = nullptr;
    QLineEdit* name = nullptr;
    QLineEdit* port = nullptr;
    QLineEdit* internal_ip = nullptr;
    QComboBox* protocol = nullptr;
    // "Keep open": renewed and put back whenever QuayMap or a keeper runs.
    QCheckBox* keep_open = nullptr;
    QLabel* add_notice1 = nullptr;
    QPushButton* delete_button = nullptr;
    QTableView* table = nullptr;
    std::vector<std::shared_ptr<Port_Entry>> entries;
    // Set on the main thread once a router of either kind has been found; never cleared. The
    // second says the router answered NAT-PMP (an AirPort base station).
    bool router_found = false;
    bool apple_router = false;
    // Elements of this application's own windows beyond the list above.
    QPushButton* refresh_button = nullptr;
    QLabel* search_state = nullptr;
    QLabel* public_address = nullptr;
    QPushButton* copy_address_button = nullptr;
    QLabel* nat_warning = nullptr;
    QLabel* command_message = nullptr;
    QLabel* add_error = nullptr;
    QProgressBar* add_progress = nullptr;
    QPushButton* err_quit_button = nullptr;
    QAction* quit_action = nullptr;

    // The router search; runs on a thread of its own.
    static void searchRouter(myApp* controller);

  public slots:
    void closeApplication();
    void close(QObject* sender = nullptr);
    void syncRouter(QObject* sender = nullptr);
    void add_port_entry(QObject* sender = nullptr);
    void add_port_entry_ok(QObject* sender = nullptr);
    void add_port_entry_cancel(QObject* sender = nullptr);
    void controlTextDidChange(QObject* field);
    void delete_port_entry(QObject* sender = nullptr);
    void show_help_url_windows(QObject* sender = nullptr);
    void click_help_url_ok(QObject* sender = nullptr);
    // The command of the error window's button, which bears the plain name.
    void close_err_window_(QObject* sender = nullptr);

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void startSearch();
    void showRouter(const quaymap::SearchOutcome& outcome);
    // The user picked another of the routers found: the table is read from that one.
    void chooseRouter(int index);
    void showErrorWindow();
    void setCommandsEnabled(bool enabled);
    // Rows come into the table as they are read; a refresh (`seen` given) also drops the rows
    // that the router no longer lists.
    void listed(const quaymap::CommandResult& result, const QSet<QString>* seen);
    void applyAdd(unsigned session, const quaymap::AddRequest& request,
                  const quaymap::CommandResult& result);
    void showPublicAddress(const std::string& address, const std::string& failure);
    void showMessage(const std::string& text);

    quaymap::Engine& engine_;
    Hooks hooks_;
    PortTableModel* model_ = nullptr;
    PortSortModel* sorted_ = nullptr;
    Keeping* keeping_ = nullptr;
    QString lan_address_;
    QString address_shown_;
    // Each opening of the add dialog; an add's answer goes to the dialog only while it is the
    // opening that sent the add.
    unsigned dialog_session_ = 0;
    // When the search's listing began, in the table's changes.
    unsigned search_mark_ = 0;
    bool err_window_up_ = false;
    bool searching_ = false; // the first search has started
    // Stopped first thing in the destructor, so that no thread outlives what it uses.
    Background background_;
    RouterSearch search_;
};
