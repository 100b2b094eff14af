#include "myApp.h"

#include "DSClickableURLTextField.h"
#include "Hyperlink.h"
#include "NatPmp.h"
#include "RouterState.h"
#include "UpnpNat.h"
#include "cwdAppDelegate.h"
#include "lan_address.h"
#include "log.h"

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QDir>
#include <QEvent>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QStandardPaths>
#include <QTableView>
#include <QTimer>
#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>

namespace {

// The error window points to a vendor's page of routers that map ports; its target names the
// "safari" scheme, which the link opener hands to the default browser as http.
const char* const kVendorText = "http://www.tp-link.com/network-product.php";
const char* const kVendorTarget = "safari://www.tp-link.com/network-product.php";
// Three dynamic-DNS providers for the help window.
const char* const kHelpLink1 = "http://www.noip.com/services/managed_dns/free_dynamic_dns.html";
const char* const kHelpLink2 = "http://www.duckdns.org/";
const char* const kHelpLink3 = "http://freedns.afraid.org/";

const char* const kAirPortName = "AirPort Station";
const char* const kAirPortAddress = "Localhost";
// A NAT-PMP mapping asks for two hours; a lifetime of 0 would delete it instead.
constexpr uint32_t kAirPortLifetime = 7200;
// How long to wait before trying again when renewing a NAT-PMP mapping failed.
constexpr int kRenewalRetryMs = 60 * 1000;

template <typename T> T* findElement(const QList<QWidget*>& windows, const char* objectName) {
    for (QWidget* window : windows) {
        if (!window)
            continue;
        if (window->objectName() == QLatin1String(objectName))
            if (T* element = qobject_cast<T*>(window))
                return element;
        if (T* element = window->findChild<T*>(QLatin1String(objectName)))
            return element;
    }
    return nullptr;
}

// The low 16 bits of the number the text starts with (after blanks and an optional sign);
// 0 when it starts with no digits. Working modulo 2^16 keeps any length of digits exact.
uint16_t lowPortBits(const QString& text) {
    int at = 0;
    while (at < text.size() && text.at(at).isSpace())
        ++at;
    bool negative = false;
    if (at < text.size() && (text.at(at) == QLatin1Char('+') || text.at(at) == QLatin1Char('-'))) {
        negative = text.at(at) == QLatin1Char('-');
        ++at;
    }
    uint32_t value = 0;
    for (; at < text.size(); ++at) {
        const QChar c = text.at(at);
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            break;
        value = (value * 10 + static_cast<uint32_t>(c.unicode() - '0')) & 0xFFFFu;
    }
    if (negative)
        value = (0x10000u - value) & 0xFFFFu;
    return static_cast<uint16_t>(value);
}

bool isDottedIPv4(const QString& text) {
    in_addr address{};
    return inet_pton(AF_INET, text.toLatin1().constData(), &address) == 1;
}

bool isPort(const QString& text, uint16_t& value) {
    if (text.isEmpty() || text.size() > 5)
        return false;
    for (const QChar c : text)
        if (c < QLatin1Char('0') || c > QLatin1Char('9'))
            return false;
    const uint number = text.toUInt();
    if (number < 1 || number > 65535)
        return false;
    value = static_cast<uint16_t>(number);
    return true;
}

// A NAT-PMP mapping is renewed at half the lifetime the base station granted; a day at most,
// so that any granted lifetime fits a timer.
int renewalIntervalMs(uint32_t lifetime) {
    const uint32_t seconds = std::min<uint32_t>(std::max<uint32_t>(lifetime / 2, 1), 24 * 3600);
    return static_cast<int>(seconds) * 1000;
}

void stopSpinning(QProgressBar* bar) {
    bar->setRange(0, 1);
    bar->setValue(0);
}

void startSpinning(QProgressBar* bar) {
    bar->setRange(0, 0);
    bar->setVisible(true);
}

} // namespace

myApp::myApp(NatPmpApi& natpmp, QObject* parent)
    : QObject(parent), natpmp_(natpmp), model_(new PortTableModel(*this, this)) {
    restoreDefaultHooks();
}

void myApp::restoreDefaultHooks() {
    hooks_.terminate = [] { QCoreApplication::quit(); };
    hooks_.exitProcess = [this](int status) {
        std::fflush(stdout);
        std::fflush(stderr);
        // Static objects, the UPnP client among them, must not be destroyed under a thread
        // that is still using them: with one running the process ends without destructors.
        if (backgroundWorkRunning())
            std::_Exit(status);
        std::exit(status);
    };
    hooks_.beep = [] { QApplication::beep(); };
}

myApp::~myApp() {
    {
        std::lock_guard<std::mutex> lock(post_mutex_);
        shutting_down_ = true;
    }
    err_closed_signal_.notify_all();
    for (Worker& worker : workers_)
        if (worker.thread.joinable())
            worker.thread.join();
}

QString myApp::logFolder() {
    // A desktop without a documents folder gets the file in the home folder instead.
    const QString documents = QStandardPaths::writableLocation(QStandardPaths::DocumentsLocation);
    if (!documents.isEmpty() && QDir(documents).exists())
        return documents;
    return QDir::homePath();
}

bool myApp::backgroundWorkRunning() const {
    return running_.load() > 0;
}

bool myApp::applicationShouldTerminateAfterLastWindowClosed(QApplication*) const {
    return true;
}

bool myApp::bindInterface(const QList<QWidget*>& windows) {
    bool complete = true;
    auto bind = [&](auto*& member, const char* objectName) {
        using Element = std::remove_pointer_t<std::remove_reference_t<decltype(member)>>;
        member = findElement<Element>(windows, objectName);
        if (!member) {
            quaymap_log("the window element %s is missing", objectName);
            complete = false;
        }
    };
    bind(main_windows, "main_windows");
    bind(add_button, "add_button");
    bind(close_button, "close_button");
    bind(progress, "progress");
    bind(adding_progress, "adding_progress");
    bind(router_name, "router_name");
    bind(err_windows, "err_windows");
    bind(manual_url, "manual_url");
    bind(close_err_window, "close_err_window");
    bind(show_help_url_windows_button, "show_help_url_windows_button");
    bind(help_url_windows, "help_url_windows");
    bind(help_url1, "help_url1");
    bind(help_url2, "help_url2");
    bind(help_url3, "help_url3");
    bind(help_url_ok_button, "help_url_ok_button");
    bind(add_windows, "add_windows");
    bind(add_windows_ok_button, "add_windows_ok_button");
    bind(add_windows_cancel_button, "add_windows_cancel_button");
    bind(name, "name");
    bind(port, "port");
    bind(internal_ip, "internal_ip");
    bind(protocol, "protocol");
    bind(add_notice1, "add_notice1");
    bind(delete_button, "delete_button");
    bind(table, "table");
    bind(refresh_button, "refresh_button");
    bind(public_address, "public_address");
    bind(add_error, "add_error");
    quit_action = nullptr;
    for (QWidget* window : windows)
        if (window && !quit_action)
            quit_action = window->findChild<QAction*>(QStringLiteral("quit_action"));
    if (!complete)
        return false;

    table->setModel(model_);
    table->horizontalHeader()->setSectionsMovable(true);
    table->horizontalHeader()->setStretchLastSection(true);
    table->verticalHeader()->setVisible(false);
    table->setWordWrap(false);
    table->setColumnWidth(0, 200);

    connect(add_button, &QPushButton::clicked, this, [this] { add_port_entry(add_button); });
    connect(close_button, &QPushButton::clicked, this, [this] { close(close_button); });
    connect(delete_button, &QPushButton::clicked, this,
            [this] { delete_port_entry(delete_button); });
    connect(refresh_button, &QPushButton::clicked, this, [this] { syncRouter(refresh_button); });
    connect(show_help_url_windows_button, &QPushButton::clicked, this,
            [this] { show_help_url_windows(show_help_url_windows_button); });
    connect(help_url_ok_button, &QPushButton::clicked, this,
            [this] { click_help_url_ok(help_url_ok_button); });
    connect(add_windows_ok_button, &QPushButton::clicked, this,
            [this] { add_port_entry_ok(add_windows_ok_button); });
    connect(add_windows_cancel_button, &QPushButton::clicked, this,
            [this] { add_port_entry_cancel(add_windows_cancel_button); });
    connect(close_err_window, &QPushButton::clicked, this,
            [this] { close_err_window_(close_err_window); });
    if (quit_action)
        connect(quit_action, &QAction::triggered, this, [this] { close(quit_action); });
    return true;
}

void myApp::awakeFromNib() {
    {
        std::lock_guard<std::mutex> lock(client_mutex());
        upnp_nat.log_folder = QDir::toNativeSeparators(logFolder()).toStdString();
    }
    adding_progress->setVisible(false);
    add_notice1->setVisible(false);
    public_address->clear();
    add_error->clear();

    router_name->setVisible(false);
    startSpinning(progress);
    buildLinkField(manual_url, QString::fromLatin1(kVendorText),
                   QString::fromLatin1(kVendorTarget));
    startSearch();
    connect(port, &QLineEdit::textEdited, this, [this] { controlTextDidChange(port); });
    connect(internal_ip, &QLineEdit::textEdited, this,
            [this] { controlTextDidChange(internal_ip); });
    last_port = QStringLiteral("");
    last_ip = QStringLiteral("");
    buildLinkField(help_url1, QString::fromLatin1(kHelpLink1), QString::fromLatin1(kHelpLink1));
    buildLinkField(help_url2, QString::fromLatin1(kHelpLink2), QString::fromLatin1(kHelpLink2));
    buildLinkField(help_url3, QString::fromLatin1(kHelpLink3), QString::fromLatin1(kHelpLink3));
    // The title-bar close of the main window ends the application; the error window's own
    // close starts a new search like its button, since only that ends its modal run.
    main_windows->installEventFilter(this);
    err_windows->installEventFilter(this);
}

void myApp::buildLinkField(DSClickableURLTextField* field, const QString& text,
                           const QString& target) {
    QTextDocumentFragment value;
    appendAttributedString(value, hyperlinkFromString(text, QUrl(target)));
    field->setAttributedStringValue(value);
    field->setFocus();
    if (QWidget* focused = field->window()->focusWidget())
        focused->clearFocus();
}

bool myApp::eventFilter(QObject* watched, QEvent* event) {
    if (watched == main_windows && event->type() == QEvent::Close) {
        event->ignore();
        closeApplication();
        return true;
    }
    if (watched == err_windows) {
        if (event->type() == QEvent::Close) {
            event->ignore();
            if (err_windows->isVisible())
                close_err_window_(err_windows);
            return true;
        }
        if (event->type() == QEvent::KeyPress &&
            static_cast<QKeyEvent*>(event)->key() == Qt::Key_Escape)
            return true;
    }
    return QObject::eventFilter(watched, event);
}

// ---- termination ----

void myApp::closeApplication() {
    hooks_.terminate();
}

void myApp::close(QObject*) {
    hooks_.exitProcess(0);
}

// ---- threads ----

void myApp::launch(std::function<void()> work) {
    // Threads that have finished are joined here so that they do not pile up.
    for (auto it = workers_.begin(); it != workers_.end();) {
        if (it->done->load()) {
            it->thread.join();
            it = workers_.erase(it);
        } else {
            ++it;
        }
    }
    auto done = std::make_shared<std::atomic<bool>>(false);
    ++running_;
    std::thread thread([this, work = std::move(work), done] {
        work();
        --running_;
        done->store(true);
    });
    workers_.push_back(Worker{std::move(thread), done});
}

void myApp::onMain(std::function<void()> work) {
    std::lock_guard<std::mutex> lock(post_mutex_);
    if (shutting_down_)
        return;
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

// ---- router search ----

void myApp::startSearch() {
    launch([this] { searchRouter(this); });
}

void myApp::searchRouter(myApp* controller) {
    controller->runSearch();
}

void myApp::runSearch() {
    // The progress indicator stays visible while stopped; the search never starts it.
    onMain([this] { progress->setVisible(true); });

    std::unique_lock<std::mutex> lock(client_mutex());
    upnp_nat.init(60);
    if (!upnp_nat.discovery()) {
        const bool airport = natpmpSearch();
        lock.unlock();
        if (airport) {
            onMain([this] {
                progress->setVisible(false);
                router_name->setText(QString::fromLatin1(kAirPortName));
                router_name->setVisible(true);
                router_found = true;
                apple_router = true;
            });
            return;
        }
        onMain([this] { stopSpinning(progress); });
        showErrorWindowAndWait();
        return;
    }
    if (!upnp_nat.parse_description())
        return;

    const QString friendlyName = QString::fromStdString(upnp_nat.friendly_name);
    std::string host, path;
    uint16_t controlPort = 0;
    QString lanAddress;
    if (UpnpNat::parse_url(upnp_nat.control_url, host, controlPort, path))
        lanAddress = localAddressTowards(host);
    onMain([this, friendlyName, lanAddress] {
        progress->setVisible(false);
        router_name->setText(friendlyName);
        router_name->setVisible(true);
        router_found = true;
        // The add dialog offers this computer's own address on the router's network.
        if (internal_ip->text().isEmpty() && !lanAddress.isEmpty()) {
            internal_ip->setText(lanAddress);
            last_ip = lanAddress;
        }
    });

    upnp_nat.get_port_mappings();
    const std::vector<MappingRecord> records = upnp_nat.mappings;
    for (const MappingRecord& record : records)
        std::printf("the forwading name is %s\n", record.description.c_str());
    std::fflush(stdout);
    // The rows are made and appended on the main thread, in record order, before the reload,
    // while the client lock is still held so that a command's row cannot come first.
    onMain([this, records] {
        for (const MappingRecord& record : records) {
            auto entry = std::make_shared<Port_Entry>();
            entry->setName(QString::fromStdString(record.description));
            entry->setListen_port(QString::fromStdString(record.external_port));
            entry->setProtocol(QString::fromStdString(record.protocol));
            entry->setIP(QString::fromStdString(record.internal_client));
            entries.push_back(entry);
        }
        model_->reloadData();
    });
}

bool myApp::natpmpSearch() {
    static bool handleOpen = false;
    quaymap_log("trying to find Apple router!!!");
    // A handle left by an earlier search is closed before it is opened again.
    if (handleOpen) {
        natpmp_.closenatpmp(&natpmp_handle);
        handleOpen = false;
    }
    if (natpmp_.initnatpmp(&natpmp_handle, 0, 0) != 0) {
        quaymap_log("can not find Apple router!!!");
        return false;
    }
    handleOpen = true;
    quaymap_log("find Apple router!!!");
    quaymap_log("try to send public ip address request, find Apple router!!!");
    if (natpmp_.sendpublicaddressrequest(&natpmp_handle) != 2) {
        quaymap_log("send public ip address request error!!!");
        return false;
    }
    quaymap_log("sended public ip address request");
    return wait_for_natpmp_answer(natpmp_, &natpmp_handle, &natpmp_response,
                                  NATPMP_RESPTYPE_PUBLICADDRESS) == 0;
}

void myApp::showErrorWindowAndWait() {
    unsigned closings = 0;
    {
        std::lock_guard<std::mutex> lock(post_mutex_);
        if (shutting_down_)
            return;
        closings = err_closings_;
    }
    onMain([this] {
        centerWindow(err_windows);
        manual_url->setFocus();
        err_windows->exec();
    });
    // The search waits here until close_err_window: (or the controller's end) releases it.
    std::unique_lock<std::mutex> lock(post_mutex_);
    // A count rather than a flag: the search that the closing starts may put the window up
    // again before this one has woken.
    err_closed_signal_.wait(
        lock, [this, closings] { return err_closings_ != closings || shutting_down_; });
}

void myApp::close_err_window_(QObject*) {
    startSpinning(progress);
    err_windows->hide();
    err_windows->done(QDialog::Rejected);
    {
        std::lock_guard<std::mutex> lock(post_mutex_);
        ++err_closings_;
    }
    err_closed_signal_.notify_all();
    startSearch();
}

// ---- table ----

int myApp::numberOfRowsInTableView() const {
    return static_cast<int>(entries.size());
}

QVariant myApp::objectValueForTableColumn(const QString& identifier, int row) const {
    if (row < 0 || row >= static_cast<int>(entries.size()))
        return {};
    // A column whose identifier names no property shows an empty cell.
    return entries[static_cast<std::size_t>(row)]->property(identifier.toLatin1().constData());
}

void myApp::appendEntry(std::shared_ptr<Port_Entry> entry) {
    entries.push_back(std::move(entry));
    model_->reloadData();
}

void myApp::removeEntry(const Port_Entry* entry) {
    for (auto it = entries.begin(); it != entries.end(); ++it) {
        if (it->get() == entry) {
            entries.erase(it);
            break;
        }
    }
    auto airport = airport_mappings_.find(entry);
    if (airport != airport_mappings_.end()) {
        delete airport->second.renewal;
        airport_mappings_.erase(airport);
    }
    model_->reloadData();
}

// ---- router operations ----

void myApp::runClientJob(ClientJob job) {
    jobs_.push_back(std::move(job));
    if (!job_running_)
        startNextJob();
}

void myApp::startNextJob() {
    if (jobs_.empty()) {
        job_running_ = false;
        setCommandsBusy(false);
        return;
    }
    job_running_ = true;
    setCommandsBusy(true);
    ClientJob job = std::move(jobs_.front());
    jobs_.pop_front();
    launch([this, job = std::move(job)] {
        std::function<void()> effect;
        {
            std::lock_guard<std::mutex> lock(client_mutex());
            effect = job();
        }
        onMain([this, effect] {
            if (effect)
                effect();
            startNextJob();
        });
    });
}

void myApp::setCommandsBusy(bool busy) {
    if (busy)
        startSpinning(adding_progress);
    else
        adding_progress->setVisible(false);
    add_button->setEnabled(!busy);
    delete_button->setEnabled(!busy);
    refresh_button->setEnabled(!busy);
}

void myApp::syncRouter(QObject*) {
    if (!router_found)
        return;
    runClientJob([this]() -> std::function<void()> {
        std::string address;
        upnp_nat.get_external_ip(address);
        return [this, address] {
            std::printf("the public ip address is %s\n", address.c_str());
            std::fflush(stdout);
            if (address.empty())
                public_address->setText(tr("The router's public address could not be read."));
            else
                public_address->setText(
                    tr("Public address: %1").arg(QString::fromStdString(address)));
        };
    });
}

void myApp::add_port_entry(QObject*) {
    if (!router_found)
        return;
    if (apple_router) {
        internal_ip->setText(QString::fromLatin1(kAirPortAddress));
        internal_ip->setReadOnly(true);
        add_notice1->setVisible(true);
    } else {
        quaymap_log("The apple router is false");
        internal_ip->setReadOnly(false);
        add_notice1->setVisible(false);
    }
    add_error->clear();
    add_windows_ok_button->setEnabled(true);
    add_windows->exec();
}

void myApp::add_port_entry_cancel(QObject*) {
    add_windows->hide();
    add_windows->done(QDialog::Rejected);
}

void myApp::showAddProblem(const QString& text) {
    add_error->setText(text);
    add_windows_ok_button->setEnabled(true);
}

void myApp::add_port_entry_ok(QObject*) {
    const QString mappingName = name->text();
    const QString portText = port->text();
    const QString address = internal_ip->text();
    const QString protocolText = protocol->currentText();

    uint16_t mappingPort = 0;
    if (mappingName.trimmed().isEmpty()) {
        showAddProblem(tr("Give the mapping a name."));
        return;
    }
    if (!isPort(portText, mappingPort)) {
        showAddProblem(tr("The port must be a number from 1 to 65535."));
        return;
    }
    if (!apple_router && !isDottedIPv4(address)) {
        showAddProblem(tr("The address must be an IPv4 address such as 192.168.1.20."));
        return;
    }
    add_error->clear();
    add_windows_ok_button->setEnabled(false);

    if (apple_router) {
        const int natpmpProtocol =
            protocolText == QLatin1String("UDP") ? NATPMP_PROTOCOL_UDP : NATPMP_PROTOCOL_TCP;
        addAirPortMapping(mappingName, mappingPort, natpmpProtocol, protocolText);
        return;
    }
    runClientJob([=]() -> std::function<void()> {
        const bool added =
            upnp_nat.add_port_mapping(mappingName.toStdString(), address.toStdString(), mappingPort,
                                      mappingPort, protocolText.toStdString());
        const int code = upnp_nat.upnp_error_code;
        const QString description = QString::fromStdString(upnp_nat.upnp_error_description);
        const QString failure = QString::fromStdString(upnp_nat.last_error).trimmed();
        return [=] {
            if (!added) {
                const QString reason =
                    code != 0 ? QStringLiteral("%1 %2").arg(code).arg(description) : failure;
                showAddProblem(tr("The router refused the mapping: %1").arg(reason));
                return;
            }
            auto entry = std::make_shared<Port_Entry>();
            entry->setName(mappingName);
            entry->setListen_port(QString::number(mappingPort));
            entry->setProtocol(protocolText);
            entry->setIP(address);
            appendEntry(entry);
            add_windows_ok_button->setEnabled(true);
            add_port_entry_cancel(add_windows_ok_button);
        };
    });
}

int myApp::requestAirPortMapping(int protocol, uint16_t privatePort, uint16_t publicPort,
                                 uint32_t lifetime) {
    natpmp_.discard_stale_answers(&natpmp_handle);
    const int sent = natpmp_.sendnewportmappingrequest(&natpmp_handle, protocol, privatePort,
                                                       publicPort, lifetime);
    if (sent < 0)
        return sent;
    return wait_for_natpmp_answer(natpmp_, &natpmp_handle, &natpmp_response,
                                  natpmp_mapping_answer_type(protocol));
}

void myApp::addAirPortMapping(const QString& mappingName, uint16_t mappingPort, int natpmpProtocol,
                              const QString& protocolText) {
    runClientJob([=]() -> std::function<void()> {
        const int result =
            requestAirPortMapping(natpmpProtocol, mappingPort, mappingPort, kAirPortLifetime);
        const natpmpresp_t answer = natpmp_response;
        return [=] {
            if (result != 0) {
                showAddProblem(tr("The base station did not grant the mapping (NAT-PMP result %1).")
                                   .arg(result));
                return;
            }
            auto entry = std::make_shared<Port_Entry>();
            entry->setName(mappingName);
            entry->setListen_port(QString::number(answer.pnu.newportmapping.mappedpublicport));
            entry->setProtocol(protocolText);
            entry->setIP(QString::fromLatin1(kAirPortAddress));
            AirPortMapping mapping;
            mapping.protocol = natpmpProtocol;
            mapping.private_port = mappingPort;
            mapping.public_port = answer.pnu.newportmapping.mappedpublicport;
            mapping.renewal = new QTimer(this);
            mapping.renewal->setObjectName(QStringLiteral("renewal"));
            mapping.renewal->setSingleShot(true);
            const uint32_t lifetime = answer.pnu.newportmapping.lifetime;
            mapping.renewal->setInterval(renewalIntervalMs(lifetime));
            Port_Entry* key = entry.get();
            connect(mapping.renewal, &QTimer::timeout, this,
                    [this, key] { renewAirPortMapping(key); });
            if (lifetime > 0)
                mapping.renewal->start();
            airport_mappings_[key] = mapping;
            appendEntry(entry);
            add_windows_ok_button->setEnabled(true);
            add_port_entry_cancel(add_windows_ok_button);
        };
    });
}

void myApp::renewAirPortMapping(Port_Entry* entry) {
    auto found = airport_mappings_.find(entry);
    if (found == airport_mappings_.end())
        return;
    const AirPortMapping mapping = found->second;
    runClientJob([=]() -> std::function<void()> {
        const int result = requestAirPortMapping(mapping.protocol, mapping.private_port,
                                                 mapping.public_port, kAirPortLifetime);
        const natpmpresp_t answer = natpmp_response;
        return [=] {
            auto current = airport_mappings_.find(entry);
            if (current == airport_mappings_.end())
                return; // deleted meanwhile
            if (result != 0) {
                quaymap_log("renewing the mapping of port %u failed (%d)",
                            static_cast<unsigned>(mapping.private_port), result);
                current->second.renewal->setInterval(kRenewalRetryMs);
                current->second.renewal->start();
                return;
            }
            current->second.public_port = answer.pnu.newportmapping.mappedpublicport;
            entry->setListen_port(QString::number(current->second.public_port));
            model_->reloadData();
            const uint32_t lifetime = answer.pnu.newportmapping.lifetime;
            if (lifetime > 0) {
                current->second.renewal->setInterval(renewalIntervalMs(lifetime));
                current->second.renewal->start();
            }
        };
    });
}

void myApp::controlTextDidChange(QObject* field) {
    if (field != port && field != internal_ip)
        return;
    QLineEdit* edit = static_cast<QLineEdit*>(field);
    QString& last = field == port ? last_port : last_ip;
    const QString text = edit->text();
    if (text.isEmpty())
        return;
    const QChar character = text.back();
    const bool digit = character >= QLatin1Char('0') && character <= QLatin1Char('9');
    const bool dot = field == internal_ip && character == QLatin1Char('.');
    if (digit || dot) {
        last = text;
        return;
    }
    edit->setText(last);
    hooks_.beep();
}

void myApp::delete_port_entry(QObject*) {
    int row = -1;
    if (table->selectionModel()) {
        const QModelIndexList rows = table->selectionModel()->selectedRows();
        if (!rows.isEmpty())
            row = rows.first().row();
    }
    if (row < 0 || row >= static_cast<int>(entries.size()))
        return;
    quaymap_log("the select row is %ld", static_cast<long>(row));
    const std::shared_ptr<Port_Entry> entry = entries[static_cast<std::size_t>(row)];
    const uint16_t externalPort = lowPortBits(entry->getListen_port());
    const std::string protocolText = entry->getProtocol().toUtf8().toStdString();

    auto airport = airport_mappings_.find(entry.get());
    if (airport != airport_mappings_.end()) {
        airport->second.renewal->stop();
        const AirPortMapping mapping = airport->second;
        runClientJob([=]() -> std::function<void()> {
            // A lifetime of 0 (and no suggested public port) removes the mapping.
            requestAirPortMapping(mapping.protocol, mapping.private_port, 0, 0);
            return [this, entry] { removeEntry(entry.get()); };
        });
        return;
    }
    runClientJob([=]() -> std::function<void()> {
        upnp_nat.del_port_mapping(externalPort, protocolText);
        return [this, entry] { removeEntry(entry.get()); };
    });
}

// ---- help window ----

void myApp::show_help_url_windows(QObject*) {
    help_url_windows->show();
    help_url_windows->raise();
    help_url_windows->activateWindow();
    centerWindow(help_url_windows);
}

void myApp::click_help_url_ok(QObject*) {
    help_url_windows->hide();
}
