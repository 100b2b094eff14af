#include "myApp.h"

#include "DSClickableURLTextField.h"
#include "Keeping.h"
#include "WindowTools.h"
#include "cwdAppDelegate.h"
#include "explain.h"
#include "log.h"
#include "router_text.h"
#include "rules.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QComboBox>
#include <QDialog>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMainWindow>
#include <QProgressBar>
#include <QPushButton>
#include <QTableView>
#include <cstdio>
#include <cstdlib>

using quaymap::CommandResult;

namespace {

// The error window points to a vendor's page of routers that map ports; its target names the
// "safari" scheme, which the link opener hands to the default browser as http.
const char* const kVendorText = "http://www.tp-link.com/network-product.php";
const char* const kVendorTarget = "safari://www.tp-link.com/network-product.php";
const char* const kHelpLinks[] = {"http://www.noip.com/services/managed_dns/free_dynamic_dns.html",
                                  "http://www.duckdns.org/", "http://freedns.afraid.org/"};

// Router text as the window shows it: one line; the labels show it as plain text.
QString text(const std::string& value) {
    return QString::fromStdString(quaymap::one_line(value));
}

} // namespace

myApp::myApp(quaymap::Engine& engine, QObject* parent)
    : QObject(parent), engine_(engine), background_(this),
      search_(engine, background_,
              {[this](const quaymap::SearchOutcome& outcome) { showRouter(outcome); },
               [this](const std::vector<quaymap::Mapping>& rows) {
                   model_->mergeAll(rows, search_mark_);
               },
               [this](const CommandResult& result) { listed(result, nullptr); },
               [this] { showErrorWindow(); }}) {
    model_ = new PortTableModel(entries, this);
    sorted_ = new PortSortModel(this);
    sorted_->setSourceModel(model_);
    keeping_ =
        new Keeping(engine, background_,
                    {[this](const quaymap::Mapping& row, const QString& mark) {
                         model_->merge(row);
                         model_->setMarks({{Port_Entry::keyOf(row), mark}});
                     },
                     [this](const QHash<QString, QString>& marks) { model_->setMarks(marks); }},
                    this);
    background_.busyChanged = [this](bool busy) {
        if (busy)
            startSpinning(adding_progress);
        else
            adding_progress->setVisible(false);
    };
    restoreDefaultHooks();
}

myApp::~myApp() {
    // No thread may outlive what it uses.
    background_.stop();
}

void myApp::restoreDefaultHooks() {
    hooks_.terminate = [] { QCoreApplication::quit(); };
    hooks_.exitProcess = [this](int status) {
        std::fflush(stdout);
        std::fflush(stderr);
        // With a thread still at work the process ends without destructors, which would pull
        // what it uses from under it.
        if (backgroundWorkRunning())
            std::_Exit(status);
        std::exit(status);
    };
    hooks_.beep = [] { QApplication::beep(); };
}

bool myApp::bindInterface(const QList<QWidget*>& windows) {
    bool complete = true;
    auto bind = [&](auto*& member, const char* objectName) {
        using Element = std::remove_pointer_t<std::remove_reference_t<decltype(member)>>;
        member = findElement<Element>(windows, objectName);
        if (!member)
            quaymap_log("the window element %s is missing", objectName);
        complete = complete && member;
    };
#define BIND(element) bind(element, #element)
    BIND(main_windows), BIND(add_button), BIND(close_button), BIND(progress);
    BIND(adding_progress), BIND(router_name), BIND(router_choice), BIND(err_windows),
        BIND(manual_url);
    BIND(close_err_window), BIND(show_help_url_windows_button), BIND(help_url_windows);
    BIND(help_url1), BIND(help_url2), BIND(help_url3), BIND(help_url_ok_button);
    BIND(add_windows), BIND(add_windows_ok_button), BIND(add_windows_cancel_button);
    BIND(name), BIND(port), BIND(internal_ip), BIND(protocol), BIND(add_notice1), BIND(keep_open);
    BIND(delete_button), BIND(table), BIND(refresh_button), BIND(search_state);
    BIND(public_address), BIND(copy_address_button), BIND(nat_warning), BIND(command_message);
    BIND(add_error), BIND(add_progress), BIND(err_quit_button);
#undef BIND
    quit_action = main_windows ? main_windows->findChild<QAction*>("quit_action") : nullptr;
    if (!complete || !quit_action)
        return false;

    table->setModel(sorted_);
    table->setSortingEnabled(true);
    table->sortByColumn(-1, Qt::AscendingOrder); // the router's order until a header is clicked
    table->horizontalHeader()->setSectionsMovable(true);
    table->horizontalHeader()->setSectionResizeMode(0, QHeaderView::Stretch);
    table->setWordWrap(false);
    table->verticalHeader()->setVisible(false);

    const auto on = [this](QPushButton* button, void (myApp::*command)(QObject*)) {
        connect(button, &QPushButton::clicked, this, [=] { (this->*command)(button); });
    };
    on(add_button, &myApp::add_port_entry);
    on(close_button, &myApp::close);
    on(delete_button, &myApp::delete_port_entry);
    on(refresh_button, &myApp::syncRouter);
    on(show_help_url_windows_button, &myApp::show_help_url_windows);
    on(help_url_ok_button, &myApp::click_help_url_ok);
    on(add_windows_ok_button, &myApp::add_port_entry_ok);
    on(add_windows_cancel_button, &myApp::add_port_entry_cancel);
    on(close_err_window, &myApp::close_err_window_);
    on(err_quit_button, &myApp::close);
    connect(router_choice, QOverload<int>::of(&QComboBox::activated), this, &myApp::chooseRouter);
    connect(copy_address_button, &QPushButton::clicked, this,
            [this] { QGuiApplication::clipboard()->setText(address_shown_); });
    connect(quit_action, &QAction::triggered, this, [this] { close(quit_action); });
    // Quit stays at hand while the modal error window holds the main window's menu.
    err_windows->addAction(quit_action);
    // Escape and the title-bar close end the error window as its button does.
    connect(err_windows, &QDialog::rejected, this, [this] { close_err_window_(err_windows); });
    connect(port, &QLineEdit::textEdited, this, [this] { controlTextDidChange(port); });
    connect(internal_ip, &QLineEdit::textEdited, this,
            [this] { controlTextDidChange(internal_ip); });
    main_windows->installEventFilter(this);
    table->installEventFilter(this);
    return true;
}

void myApp::awakeFromNib() {
    for (QWidget* hidden :
         std::initializer_list<QWidget*>{adding_progress, add_progress, add_notice1, nat_warning,
                                         router_name, router_choice, copy_address_button})
        hidden->setVisible(false);
    startSpinning(progress);
    search_state->setText(tr("Searching for your router…"));
    setCommandsEnabled(false);
    buildLinkField(manual_url, kVendorText, kVendorTarget);
    searchAhead();
    background_.open();
    last_port = QStringLiteral("");
    last_ip = QStringLiteral("");
    DSClickableURLTextField* const helpFields[] = {help_url1, help_url2, help_url3};
    for (int link = 0; link < 3; ++link)
        buildLinkField(helpFields[link], kHelpLinks[link], kHelpLinks[link]);
}

bool myApp::eventFilter(QObject* watched, QEvent* event) {
    if (watched == main_windows && event->type() == QEvent::Close) {
        event->ignore();
        closeApplication();
        return true;
    }
    if (watched == table && event->type() == QEvent::KeyPress &&
        static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
        delete_port_entry(table);
        return true;
    }
    return QObject::eventFilter(watched, event);
}

void myApp::closeApplication() {
    hooks_.terminate();
}

void myApp::close(QObject*) {
    hooks_.exitProcess(0);
}

void myApp::setCommandsEnabled(bool enabled) {
    for (QPushButton* button : {add_button, delete_button, refresh_button})
        button->setEnabled(enabled);
}

void myApp::searchAhead() {
    if (!searching_)
        startSearch();
}

void myApp::startSearch() {
    searching_ = true;
    search_mark_ = model_->mark();
    background_.start([this] { searchRouter(this); });
}

void myApp::searchRouter(myApp* controller) {
    controller->search_.run();
}

void myApp::showRouter(const quaymap::SearchOutcome& outcome) {
    progress->setVisible(false);
    search_state->setVisible(false);
    router_name->setText(text(outcome.name));
    const bool choice = outcome.routers.size() > 1;
    router_name->setVisible(!choice);
    router_choice->setVisible(choice);
    router_choice->clear();
    for (const quaymap::RouterChoice& router : outcome.routers) {
        router_choice->addItem(tr("%1 (%2)").arg(text(router.name), text(router.address)));
        if (router.address == outcome.address)
            router_choice->setCurrentIndex(router_choice->count() - 1);
    }
    router_found = true;
    if (outcome.kind == quaymap::RouterKind::natpmp)
        apple_router = true;
    lan_address_ = text(outcome.lan_address);
    setCommandsEnabled(true);
    showPublicAddress(outcome.public_address, {});
    keeping_->start(outcome.kind == quaymap::RouterKind::natpmp);
}

void myApp::chooseRouter(int index) {
    // The rows and what is kept belong to the router they came from.
    model_->keepOnly({});
    keeping_->stop();
    showMessage({});
    setCommandsEnabled(false);
    background_.command([this, index] {
        const quaymap::SearchOutcome outcome = engine_.choose(static_cast<std::size_t>(index));
        return [this, outcome] {
            const bool chosen = outcome.kind != quaymap::RouterKind::none;
            if (chosen)
                showRouter(outcome);
            setCommandsEnabled(true);
            syncRouter(router_choice);
            if (!chosen)
                showMessage(tr("That router cannot be chosen.").toStdString());
        };
    });
}

void myApp::showErrorWindow() {
    stopSpinning(progress);
    search_state->setText(tr("No router found."));
    err_window_up_ = true;
    centerWindow(err_windows);
    showInFront(err_windows);
    manual_url->setFocus();
}

void myApp::close_err_window_(QObject*) {
    if (!err_window_up_)
        return;
    err_window_up_ = false;
    startSpinning(progress);
    search_state->setText(tr("Searching for your router…"));
    err_windows->hide();
    search_.errorWindowClosed();
    startSearch();
}

void myApp::listed(const CommandResult& result, const QSet<QString>* seen) {
    if (!result.ok())
        return showMessage(result.message);
    if (result.rows_cut)
        return showMessage("The router lists more mappings than QuayMap reads; the table shows "
                           "the first ones.");
    // A row the router did not hand over may still be there: none is dropped.
    if (!result.unread.empty())
        return showMessage(quaymap::unread_text(result.unread));
    // NAT-PMP lists nothing: the table keeps the mappings QuayMap made.
    if (seen && !apple_router)
        model_->keepOnly(*seen);
}

void myApp::syncRouter(QObject*) {
    if (!router_found)
        return;
    showMessage({});
    auto seen = std::make_shared<QSet<QString>>(); // touched on the main thread only
    const unsigned mark = model_->mark();
    auto feed = std::make_shared<RowFeed>(background_, [this, seen, mark](const auto& rows) {
        seen->unite(model_->mergeAll(rows, mark));
    });
    // In the listings' lane: an add or a delete meanwhile waits for one exchange, not the table.
    background_.listing([this, seen, feed, mark] {
        const CommandResult address = engine_.public_address();
        background_.post([this, address] {
            std::printf("the public ip address is %s\n",
                        quaymap::one_line(address.address).c_str());
            std::fflush(stdout);
            showPublicAddress(address.ok() ? address.address : std::string(), address.message);
        });
        // A router that did not answer once is not asked for its table too: the verdict stays
        // within the time of one exchange.
        if (address.verdict == quaymap::Verdict::unreachable)
            return Background::Effect();
        const CommandResult result =
            engine_.list([feed](const quaymap::Mapping& row) { feed->add(row); });
        return Background::Effect([this, seen, feed, mark, result] {
            feed->flush();
            // What commands changed meanwhile is theirs: this listing drops none of it.
            seen->unite(model_->changedSince(mark));
            listed(result, seen.get());
        });
    });
}

void myApp::showPublicAddress(const std::string& address, const std::string& failure) {
    address_shown_ = text(address);
    public_address->setText(address.empty() ? text(failure)
                                            : tr("Public address: %1").arg(address_shown_));
    copy_address_button->setVisible(!address.empty());
    nat_warning->setText(text(quaymap::double_nat_warning(address)));
    nat_warning->setVisible(!nat_warning->text().isEmpty());
}

void myApp::showMessage(const std::string& message) {
    command_message->setText(text(message));
}

void myApp::add_port_entry(QObject*) {
    if (!router_found)
        return;
    ++dialog_session_;
    if (apple_router) {
        internal_ip->setText(QStringLiteral("Localhost"));
    } else {
        quaymap_log("The apple router is false");
        // Afresh at each opening: an address typed for an earlier mapping is no default.
        internal_ip->setText(lan_address_);
        last_ip = lan_address_;
    }
    internal_ip->setReadOnly(apple_router);
    add_notice1->setVisible(apple_router);
    add_error->clear();
    keep_open->setChecked(false);
    add_progress->setVisible(false);
    add_windows_ok_button->setEnabled(true);
    showInFront(add_windows);
}

void myApp::add_port_entry_cancel(QObject*) {
    // An add that runs goes on: its answer comes to the table or the main window.
    add_windows->hide();
}

void myApp::add_port_entry_ok(QObject*) {
    quaymap::AddRequest request;
    request.name = name->text().trimmed().toStdString();
    request.protocol = protocol->currentText().toStdString();
    if (!apple_router)
        request.internal_client = internal_ip->text().toStdString();
    quaymap::port_of(port->text().toStdString(), request.external_port);
    request.keep = keep_open->isChecked();
    // The engine's own rules, said at once rather than after a round trip to the engine.
    const std::string problem = quaymap::add_problem(request);
    add_error->setText(text(problem));
    if (!problem.empty())
        return;
    add_windows_ok_button->setEnabled(false);
    startSpinning(add_progress);
    showMessage({});
    background_.command([this, session = dialog_session_, request] {
        const CommandResult result = engine_.add(request);
        return [this, session, request, result] { applyAdd(session, request, result); };
    });
}

void myApp::applyAdd(unsigned session, const quaymap::AddRequest& request,
                     const CommandResult& result) {
    const bool dialogWaits = session == dialog_session_ && add_windows->isVisible();
    if (session == dialog_session_) {
        add_progress->setVisible(false);
        add_windows_ok_button->setEnabled(true);
    }
    if (result.ok()) {
        model_->merge(result.row);
        keeping_->added(request, result.row);
        if (dialogWaits)
            add_port_entry_cancel(add_windows_ok_button);
    } else if (dialogWaits) {
        add_error->setText(text(result.message));
    } else {
        // Never into a hidden dialog: after Cancel the main window says it.
        showMessage(result.message);
    }
}

void myApp::controlTextDidChange(QObject* field) {
    if (field != port && field != internal_ip)
        return;
    QLineEdit* edit = static_cast<QLineEdit*>(field);
    QString& last = field == port ? last_port : last_ip;
    const QString value = edit->text();
    if (value.isEmpty())
        return;
    const QChar character = value.back();
    if ((character >= QLatin1Char('0') && character <= QLatin1Char('9')) ||
        (field == internal_ip && character == QLatin1Char('.'))) {
        last = value;
        return;
    }
    edit->setText(last);
    hooks_.beep();
}

void myApp::delete_port_entry(QObject*) {
    const QModelIndexList selected =
        table->selectionModel() ? table->selectionModel()->selectedRows() : QModelIndexList();
    if (selected.isEmpty())
        return;
    // The table may be sorted: its row is not the row in entries.
    const int row = sorted_->mapToSource(selected.first()).row();
    if (row < 0 || row >= static_cast<int>(entries.size()))
        return;
    quaymap_log("the select row is %ld", static_cast<long>(selected.first().row()));
    // The job holds the mapping, never the row: a row let go on a worker thread would end there.
    const std::weak_ptr<Port_Entry> entry = entries[static_cast<std::size_t>(row)];
    const quaymap::Mapping record = entries[static_cast<std::size_t>(row)]->record();
    showMessage({});
    background_.command([this, entry, record] {
        const CommandResult result = engine_.remove(record);
        // In the lane, so that no renewal queued behind the delete puts the mapping back.
        if (result.ok())
            keeping_->deleted(record);
        return [this, entry, result] {
            // The row goes only when the router confirmed; otherwise it stays, with the reason.
            if (!result.ok())
                return showMessage(result.message);
            if (const std::shared_ptr<Port_Entry> shown = entry.lock())
                model_->remove(model_->rowOf(shown.get()));
        };
    });
}

void myApp::show_help_url_windows(QObject*) {
    showInFront(help_url_windows);
    centerWindow(help_url_windows);
}

void myApp::click_help_url_ok(QObject*) {
    help_url_windows->hide();
}
