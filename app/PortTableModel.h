// The mapping table's model: each column carries an identifier, and a cell is whatever its row
// answers for the property of that name, as plain text on one line. It reaches the controller's
// rows and changes them row by row, never by a reset, so that the table keeps the user's
// selection.
//
// Listings run beside the commands: a row that a command added, changed or deleted after a
// listing began is not that listing's to bring back, change or drop, since what it read may be
// older than the change.
#pragma once

#include "Port_Entry.h"

#include <QAbstractTableModel>
#include <QHash>
#include <QSet>
#include <QSortFilterProxyModel>
#include <QStringList>
#include <memory>
#include <vector>

class PortTableModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    using Rows = std::vector<std::shared_ptr<Port_Entry>>;
    // headerData() answers a column's identifier under this role; data() a sort key.
    static constexpr int IdentifierRole = Qt::UserRole + 1;
    static constexpr int SortRole = Qt::UserRole + 2;

    explicit PortTableModel(Rows& rows, QObject* parent = nullptr);

    void setColumnIdentifiers(const QStringList& identifiers);
    QStringList columnIdentifiers() const { return identifiers; }

    int rowOf(const Port_Entry* entry) const;
    int rowOfKey(const QString& key) const;

    // A command's changes. The mapping of the record's key takes the record's values, or a new
    // row appears.
    std::shared_ptr<Port_Entry> merge(const quaymap::Mapping& record);
    void update(Port_Entry* entry, const quaymap::Mapping& record);
    void remove(int row);

    // A listing's changes. The moment a listing begins; the keys that commands changed since.
    unsigned mark() const { return clock; }
    QSet<QString> changedSince(unsigned mark) const;
    // merge() for a batch that a listing begun at `mark` read, with the new rows inserted at
    // once; returns the batch's keys.
    QSet<QString> mergeAll(const std::vector<quaymap::Mapping>& records, unsigned mark);
    // Drops the rows whose keys are not among these; returns them.
    Rows keepOnly(const QSet<QString>& keys);
    // What QuayMap's record says of mappings, by key: the rows of those keys show it, now and
    // whenever a listing brings them back.
    void setMarks(const QHash<QString, QString>& marks);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    void touch(const QString& key) { changed[key] = ++clock; }
    void apply(int row, const quaymap::Mapping& record);
    void drop(int row);

    Rows& rows;
    QStringList identifiers;
    QHash<QString, unsigned> changed; // by key: the latest command that changed it
    unsigned clock = 0;
    QHash<QString, QString> marks; // by key
};

// Sorts numbers as numbers and texts with their digits read as numbers, so that port 443 comes
// before 8080 and 192.168.1.3 before 192.168.1.20.
class PortSortModel : public QSortFilterProxyModel {
    Q_OBJECT

  public:
    explicit PortSortModel(QObject* parent = nullptr);

  protected:
    bool lessThan(const QModelIndex& left, const QModelIndex& right) const override;
};
