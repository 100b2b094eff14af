// The mapping table: rows, cells looked up by property name, and columns in any order.
#include "AppHarness.h"
#include "PortTableModel.h"
#include "Port_Entry.h"
#include "RouterState.h"

#include <QHeaderView>
#include <QMainWindow>
#include <QTableView>
#include <QTest>
#include <atomic>
#include <thread>

namespace {

class Rows : public PortTableDataSource {
  public:
    std::vector<std::shared_ptr<Port_Entry>> entries;
    int numberOfRowsInTableView() const override { return static_cast<int>(entries.size()); }
    QVariant objectValueForTableColumn(const QString& identifier, int row) const override {
        return entries[static_cast<std::size_t>(row)]->property(identifier.toLatin1().constData());
    }
    void add(const QString& name, const QString& port, const QString& protocol, const QString& ip) {
        auto entry = std::make_shared<Port_Entry>();
        entry->setName(name);
        entry->setListen_port(port);
        entry->setProtocol(protocol);
        entry->setIP(ip);
        entries.push_back(entry);
    }
};

QString cell(const QAbstractItemModel& model, int row, int column) {
    return model.data(model.index(row, column)).toString();
}

} // namespace

class TableTest : public QObject {
    Q_OBJECT

  private slots:
    void newRowHoldsEmptyTexts();
    void propertiesAreFoundByName();
    void propertiesAreReadAndReplacedWhole();
    void columnsCarryThePropertyNames();
    void swappedColumnsShowTheirOwnProperties();
    void movedHeaderSectionsShowTheirOwnProperties();
    void unknownIdentifierShowsAnEmptyCell();
    void rowCountAndCellsAreReadLive();
    void controllerIsTheDataSource();
};

void TableTest::newRowHoldsEmptyTexts() {
    Port_Entry entry;
    for (const char* property : {"Name", "Listen_port", "Protocol", "IP"}) {
        const QVariant value = entry.property(property);
        QVERIFY(value.isValid());
        QVERIFY(!value.toString().isNull());
        QCOMPARE(value.toString(), QString(""));
    }
}

void TableTest::propertiesAreFoundByName() {
    Port_Entry entry;
    QVERIFY(entry.setProperty("Name", QStringLiteral("web")));
    QVERIFY(entry.setProperty("Listen_port", QStringLiteral("8080")));
    QVERIFY(entry.setProperty("Protocol", QStringLiteral("TCP")));
    QVERIFY(entry.setProperty("IP", QStringLiteral("192.168.1.20")));
    QCOMPARE(entry.getName(), QStringLiteral("web"));
    QCOMPARE(entry.getListen_port(), QStringLiteral("8080"));
    QCOMPARE(entry.getProtocol(), QStringLiteral("TCP"));
    QCOMPARE(entry.getIP(), QStringLiteral("192.168.1.20"));
    QVERIFY(!entry.property("Description").isValid());

    // The row keeps its own copy of the text it was given.
    QString text = QStringLiteral("ssh");
    entry.setName(text);
    text[0] = QLatin1Char('x');
    QCOMPARE(entry.getName(), QStringLiteral("ssh"));
}

void TableTest::propertiesAreReadAndReplacedWhole() {
    Port_Entry entry;
    const QString shortText(3, QLatin1Char('a'));
    const QString longText(4000, QLatin1Char('b'));
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop; ++i)
            entry.setName(i % 2 ? shortText : longText);
    });
    bool whole = true;
    for (int i = 0; i < 20000 && whole; ++i) {
        const QString seen = entry.getName();
        whole = seen.isEmpty() || seen == shortText || seen == longText;
    }
    stop = true;
    writer.join();
    QVERIFY(whole);
}

void TableTest::columnsCarryThePropertyNames() {
    Rows rows;
    PortTableModel model(rows);
    QCOMPARE(model.columnIdentifiers(), QStringList({"Name", "Listen_port", "Protocol", "IP"}));
    for (int column = 0; column < model.columnCount(); ++column)
        QCOMPARE(
            model.headerData(column, Qt::Horizontal, PortTableModel::IdentifierRole).toString(),
            model.columnIdentifiers().at(column));
}

void TableTest::swappedColumnsShowTheirOwnProperties() {
    Rows rows;
    rows.add("web", "8080", "TCP", "192.168.1.20");
    rows.add("dns", "53", "UDP", "192.168.1.2");
    PortTableModel model(rows);
    model.setColumnIdentifiers({"IP", "Protocol", "Listen_port", "Name"});
    QCOMPARE(cell(model, 0, 0), QStringLiteral("192.168.1.20"));
    QCOMPARE(cell(model, 0, 1), QStringLiteral("TCP"));
    QCOMPARE(cell(model, 0, 2), QStringLiteral("8080"));
    QCOMPARE(cell(model, 0, 3), QStringLiteral("web"));
    QCOMPARE(cell(model, 1, 3), QStringLiteral("dns"));
    QCOMPARE(model.headerData(0, Qt::Horizontal, PortTableModel::IdentifierRole).toString(),
             QStringLiteral("IP"));
}

void TableTest::movedHeaderSectionsShowTheirOwnProperties() {
    Rows rows;
    rows.add("web", "8080", "TCP", "192.168.1.20");
    PortTableModel model(rows);
    QTableView view;
    view.setModel(&model);
    view.horizontalHeader()->moveSection(0, 3); // Name to the far right
    const int shownFirst = view.horizontalHeader()->logicalIndex(0);
    const int shownLast = view.horizontalHeader()->logicalIndex(3);
    QCOMPARE(
        model.headerData(shownFirst, Qt::Horizontal, PortTableModel::IdentifierRole).toString(),
        QStringLiteral("Listen_port"));
    QCOMPARE(cell(model, 0, shownFirst), QStringLiteral("8080"));
    QCOMPARE(cell(model, 0, shownLast), QStringLiteral("web"));
}

void TableTest::unknownIdentifierShowsAnEmptyCell() {
    Rows rows;
    rows.add("web", "8080", "TCP", "192.168.1.20");
    PortTableModel model(rows);
    model.setColumnIdentifiers({"Name", "Lease"});
    QCOMPARE(cell(model, 0, 0), QStringLiteral("web"));
    QCOMPARE(cell(model, 0, 1), QString());
}

void TableTest::rowCountAndCellsAreReadLive() {
    Rows rows;
    PortTableModel model(rows);
    QCOMPARE(model.rowCount(), 0);
    rows.add("", "22", "TCP", "192.168.1.22");
    model.reloadData();
    QCOMPARE(model.rowCount(), 1);
    QCOMPARE(cell(model, 0, 0), QString()); // an empty description is an empty Name cell
    rows.entries[0]->setName("ssh");
    QCOMPARE(cell(model, 0, 0), QStringLiteral("ssh"));
    QCOMPARE(model.data(model.index(5, 0)), QVariant()); // past the rows
}

void TableTest::controllerIsTheDataSource() {
    AppHarness h;
    h.gateway.set_entries({mapping("8080", "TCP", "80", "192.168.1.20", "web")});
    h.start();
    QVERIFY(h.waitIdle());
    QTRY_COMPARE(h.app->table->model()->rowCount(), 1);
    QCOMPARE(h.app->table->model(), static_cast<QAbstractItemModel*>(h.app->tableModel()));
    h.app->tableModel()->setColumnIdentifiers({"Protocol", "Name", "IP", "Listen_port"});
    const QAbstractItemModel& model = *h.app->table->model();
    QCOMPARE(cell(model, 0, 0), QStringLiteral("TCP"));
    QCOMPARE(cell(model, 0, 1), QStringLiteral("web"));
    QCOMPARE(cell(model, 0, 2), QStringLiteral("192.168.1.20"));
    QCOMPARE(cell(model, 0, 3), QStringLiteral("8080"));
}

QTEST_MAIN(TableTest)
#include "tst_table.moc"
