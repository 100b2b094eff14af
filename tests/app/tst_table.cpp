// The mapping table: rows, cells looked up by property name, and columns in any order.
#include "AppHarness.h"
#include "Port_Entry.h"

#include <thread>

namespace {

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
    void rowStartsWithFourEmptyTexts() {
        Port_Entry entry;
        for (const char* name : {"Name", "Listen_port", "Protocol", "IP"}) {
            QVERIFY(!entry.property(name).toString().isNull());
            QCOMPARE(entry.property(name).toString(), QString(""));
        }
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

    void columnsShowTheirOwnProperties() {
        AppHarness h;
        QVERIFY(h.startWithGateway({{"8080", "TCP", "80", "192.168.1.20", "web"},
                                    {"22", "TCP", "22", "192.168.1.22", ""}}));
        QAbstractItemModel& model = *h.app->table->model();
        QCOMPARE(&model, static_cast<QAbstractItemModel*>(h.app->tableModel()));
        QCOMPARE(cells(model, -1), QStringList({"Name", "Listen_port", "Protocol", "IP"}));
        QCOMPARE(cells(model, 0), QStringList({"web", "8080", "TCP", "192.168.1.20"}));
        QCOMPARE(cells(model, 1), QStringList({"", "22", "TCP", "192.168.1.22"}));
        // The person may drag the columns about...
        QVERIFY(h.app->table->horizontalHeader()->sectionsMovable());
        h.app->table->horizontalHeader()->moveSection(0, 3);
        QCOMPARE(cells(model, 0), QStringList({"web", "8080", "TCP", "192.168.1.20"}));
        // ...and the window may carry them in any order, even one naming no property.
        const QStringList orders[][2] = {
            {{"IP", "Protocol", "Listen_port", "Name"}, {"192.168.1.20", "TCP", "8080", "web"}},
            {{"Protocol", "Name", "IP", "Listen_port"}, {"TCP", "web", "192.168.1.20", "8080"}},
            {{"Name", "Lease"}, {"web", ""}}};
        for (const auto& [identifiers, first] : orders) {
            h.app->tableModel()->setColumnIdentifiers(identifiers);
            QCOMPARE(h.app->tableModel()->columnIdentifiers(), identifiers);
            QCOMPARE(cells(model, -1), identifiers);
            QCOMPARE(cells(model, 0), first);
        }
    }
};

QTEST_MAIN(TableTest)
#include "tst_table.moc"
