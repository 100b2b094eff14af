// The mapping table: rows, cells looked up by property name, and columns in any order.
#include "AppHarness.h"
#include "PortTableModel.h"
#include "Port_Entry.h"

#include <thread>

namespace {

struct Rows : PortTableDataSource {
    std::vector<std::shared_ptr<Port_Entry>> entries;
    int numberOfRowsInTableView() const override { return static_cast<int>(entries.size()); }
    QVariant objectValueForTableColumn(const QString& identifier, int row) const override {
        return entries[static_cast<std::size_t>(row)]->property(identifier.toLatin1().constData());
    }
    void add(const QStringList& values) {
        entries.push_back(std::make_shared<Port_Entry>());
        entries.back()->setName(values[0]);
        entries.back()->setListen_port(values[1]);
        entries.back()->setProtocol(values[2]);
        entries.back()->setIP(values[3]);
    }
};

// A row's cells, or the columns' identifiers for row -1.
QStringList cells(const QAbstractItemModel& model, int row) {
    QStringList values;
    for (int column = 0; column < model.columnCount(); ++column)
        values << (row < 0
                       ? model.headerData(column, Qt::Horizontal, PortTableModel::IdentifierRole)
                       : model.data(model.index(row, column)))
                      .toString();
    return values;
}

} // namespace

class TableTest : public QObject {
    Q_OBJECT

  private slots:
    void rowHoldsFourTextsByName() {
        Port_Entry entry;
        const QStringList values = {"web", "8080", "TCP", "192.168.1.20"};
        int i = 0;
        for (const char* name : {"Name", "Listen_port", "Protocol", "IP"}) {
            QVERIFY(!entry.property(name).toString().isNull()); // "" from the start
            QCOMPARE(entry.property(name).toString(), QString(""));
            QVERIFY(entry.setProperty(name, values[i++]));
        }
        QCOMPARE(QStringList(
                     {entry.getName(), entry.getListen_port(), entry.getProtocol(), entry.getIP()}),
                 values);
        QVERIFY(!entry.property("Description").isValid());
    }

    void propertiesAreReadAndReplacedWhole() {
        Port_Entry entry;
        const QString shortText(3, QLatin1Char('a')), longText(4000, QLatin1Char('b'));
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

    void columnsShowTheirOwnProperties_data() {
        QTest::addColumn<QStringList>("identifiers"); // empty: the model's own
        QTest::addColumn<QStringList>("header");
        QTest::addColumn<QStringList>("first");
        QTest::addColumn<QStringList>("second");
        const QStringList swapped = {"IP", "Protocol", "Listen_port", "Name"};
        QTest::newRow("property names")
            << QStringList() << QStringList{"Name", "Listen_port", "Protocol", "IP"}
            << QStringList{"web", "8080", "TCP", "192.168.1.20"}
            << QStringList{"", "22", "TCP", "192.168.1.22"};
        QTest::newRow("swapped") << swapped << swapped
                                 << QStringList{"192.168.1.20", "TCP", "8080", "web"}
                                 << QStringList{"192.168.1.22", "TCP", "22", ""};
        QTest::newRow("unknown identifier")
            << QStringList{"Name", "Lease"} << QStringList{"Name", "Lease"}
            << QStringList{"web", ""} << QStringList{"", ""};
    }
    void columnsShowTheirOwnProperties() {
        QFETCH(QStringList, identifiers);
        QFETCH(QStringList, header);
        Rows rows;
        rows.add({"web", "8080", "TCP", "192.168.1.20"});
        rows.add({"", "22", "TCP", "192.168.1.22"}); // a mapping without a description
        PortTableModel model(rows);
        if (!identifiers.isEmpty())
            model.setColumnIdentifiers(identifiers);
        QCOMPARE(model.columnIdentifiers(), header);
        QCOMPARE(cells(model, -1), header);
        QTEST(cells(model, 0), "first");
        QTEST(cells(model, 1), "second");
    }

    void cellsAreReadLive() {
        Rows rows;
        PortTableModel model(rows);
        QCOMPARE(model.rowCount(), 0);
        rows.add({"", "22", "TCP", "192.168.1.22"});
        model.reloadData();
        QCOMPARE(model.rowCount(), 1);
        rows.entries[0]->setName("ssh");
        QCOMPARE(cells(model, 0).first(), QStringLiteral("ssh"));
        QCOMPARE(model.data(model.index(5, 0)), QVariant()); // past the rows
    }

    void controllerIsTheDataSource() {
        AppHarness h;
        QVERIFY(h.startWithGateway({{"8080", "TCP", "80", "192.168.1.20", "web"}}));
        QAbstractItemModel& model = *h.app->table->model();
        QCOMPARE(&model, static_cast<QAbstractItemModel*>(h.app->tableModel()));
        // The person may drag the columns about; the window may carry them in any order.
        QVERIFY(h.app->table->horizontalHeader()->sectionsMovable());
        h.app->table->horizontalHeader()->moveSection(0, 3);
        QCOMPARE(cells(model, 0), QStringList({"web", "8080", "TCP", "192.168.1.20"}));
        h.app->tableModel()->setColumnIdentifiers({"Protocol", "Name", "IP", "Listen_port"});
        QCOMPARE(cells(model, 0), QStringList({"TCP", "web", "192.168.1.20", "8080"}));
    }
};

QTEST_MAIN(TableTest)
#include "tst_table.moc"
