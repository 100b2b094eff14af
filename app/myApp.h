// The main window controller: owns the window elements, the table's rows, the router search and
// every command of the windows.
#pragma once

#include "PortTableModel.h"
#include "Port_Entry.h"

#include <QObject>
#include <QPointer>
#include <QString>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

class DSClickableURLTextField;
class NatPmpApi;
class QApplication;
class QComboBox;
class QDialog;
class QLabel;
class QLineEdit;
class QMainWindow;
class QProgressBar;
class QPushButton;
class QAction;
class QTableView;
class QTimer;
class QWidget;

class myApp : public QObject, public PortTableDataSource {
    Q_OBJECT

  public:
    // The hooks through which the controller leaves the process or reaches the desktop; tests
    // replace them. The defaults end the application, end the process, and sound the alert.
    struct Hooks {
        std::function<void()> terminate;
        std::function<void(int)> exitProcess;
        std::function<void()> beep;
    };

    // init: the controller starts with no rows. NAT-PMP goes through the given seam (not owned).
    explicit myApp(NatPmpApi& natpmp, QObject* parent = nullptr);
    ~myApp() override;

    // Binds every window element by its object name among the given windows and connects the
    // commands to the controls named after them. False (and a log line) when one is missing.
    bool bindInterface(const QList<QWidget*>& windows);
    void awakeFromNib();

    Hooks& hooks() { return hooks_; }
    void restoreDefaultHooks();
    // Folder handed to the UPnP client for "quaymap.log" (the user's documents folder).
    static QString logFolder();

    // Whether a search or a router operation is still running on a thread of its own.
    bool backgroundWorkRunning() const;

    // Table data source.
    int numberOfRowsInTableView() const override;
    QVariant objectValueForTableColumn(const QString& identifier, int row) const override;
    PortTableModel* tableModel() const { return model_; }

    bool applicationShouldTerminateAfterLastWindowClosed(QApplication* application) const;

    // Window elements, bound by name.
    QMainWindow* main_windows = nullptr;
    QPushButton* add_button = nullptr;
    QPushButton* close_button = nullptr;
    QProgressBar* progress = nullptr;
    QProgressBar* adding_progress = nullptr;
    QLabel* router_name = nullptr;
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
    QLabel* add_notice1 = nullptr;
    QPushButton* delete_button = nullptr;
    QTableView* table = nullptr;
    std::vector<std::shared_ptr<Port_Entry>> entries;
    // Elements of this application's own windows beyond the list above.
    QPushButton* refresh_button = nullptr;
    QLabel* public_address = nullptr;
    QLabel* add_error = nullptr;
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
    // A mapping made through NAT-PMP: what renewing and deleting it need.
    struct AirPortMapping {
        int protocol = 0;
        uint16_t private_port = 0;
        uint16_t public_port = 0;
        QTimer* renewal = nullptr;
    };
    // Work for a router operation: runs on a worker thread under the client lock and returns
    // what is then done on the main thread.
    using ClientJob = std::function<std::function<void()>()>;

    struct Worker {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };

    // Runs the work on a thread of its own.
    void launch(std::function<void()> work);
    void startSearch();
    void runSearch();
    bool natpmpSearch();
    // Hands work to the main thread, in order; nothing once the controller is going away.
    void onMain(std::function<void()> work);
    void showErrorWindowAndWait();

    void runClientJob(ClientJob job);
    void startNextJob();
    void setCommandsBusy(bool busy);

    void buildLinkField(DSClickableURLTextField* field, const QString& text, const QString& target);
    void addAirPortMapping(const QString& mappingName, uint16_t mappingPort, int natpmpProtocol,
                           const QString& protocolText);
    void renewAirPortMapping(Port_Entry* entry);
    // Sends one NAT-PMP mapping request and waits for its answer; 0 when it was granted.
    int requestAirPortMapping(int protocol, uint16_t privatePort, uint16_t publicPort,
                              uint32_t lifetime);
    void showAddProblem(const QString& text);
    void removeEntry(const Port_Entry* entry);
    void appendEntry(std::shared_ptr<Port_Entry> entry);

    NatPmpApi& natpmp_;
    Hooks hooks_;
    PortTableModel* model_ = nullptr;

    std::vector<Worker> workers_;
    std::atomic<int> running_{0};
    std::deque<ClientJob> jobs_;
    bool job_running_ = false;
    std::map<const Port_Entry*, AirPortMapping> airport_mappings_;

    // Posting to the main thread and the search's wait for the error window.
    std::mutex post_mutex_;
    std::condition_variable err_closed_signal_;
    // Counts the closings of the error window; a waiting search wakes when it moves on.
    unsigned err_closings_ = 0;
    bool shutting_down_ = false;
};
