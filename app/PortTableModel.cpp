#include "PortTableModel.h"

#include "router_text.h"

#include <QCollator>
#include <QTextDocument>

namespace {

QString columnTitle(const QString& identifier) {
    static const std::pair<const char*, const char*> titles[] = {
        {"Name", "Name"},         {"Listen_port", "Port"}, {"Ports", "Port"},
        {"Protocol", "Protocol"}, {"IP", "Forward to"},    {"Lease", "Lease"},
        {"Record", "QuayMap"}};
    for (const auto& [id, title] : titles)
        if (identifier == QLatin1String(id))
            return PortTableModel::tr(title);
    return identifier;
}

} // namespace

PortTableModel::PortTableModel(Rows& rows, QObject* parent)
    : QAbstractTableModel(parent),
      rows(rows), identifiers{"Name", "Ports", "Protocol", "IP", "Lease", "Record"} {}

void PortTableModel::setColumnIdentifiers(const QStringList& list) {
    beginResetModel();
    identifiers = list;
    endResetModel();
}

int PortTableModel::rowOf(const Port_Entry* entry) const {
    for (std::size_t row = 0; row < rows.size(); ++row)
        if (rows[row].get() == entry)
            return static_cast<int>(row);
    return -1;
}

int PortTableModel::rowOfKey(const QString& key) const {
    for (std::size_t row = 0; row < rows.size(); ++row)
        if (rows[row]->key() == key)
            return static_cast<int>(row);
    return -1;
}

std::shared_ptr<Port_Entry> PortTableModel::merge(const quaymap::Mapping& record) {
    const QString key = Port_Entry::keyOf(record);
    touch(key);
    const int row = rowOfKey(key);
    if (row >= 0) {
        apply(row, record);
        return rows[static_cast<std::size_t>(row)];
    }
    const int last = static_cast<int>(rows.size());
    beginInsertRows({}, last, last);
    rows.push_back(std::make_shared<Port_Entry>(record));
    rows.back()->setRecordMark(marks.value(key));
    endInsertRows();
    return rows.back();
}

void PortTableModel::update(Port_Entry* entry, const quaymap::Mapping& record) {
    const int row = rowOf(entry);
    if (row < 0)
        return;
    touch(entry->key());
    apply(row, record);
}

void PortTableModel::remove(int row) {
    if (row < 0 || row >= static_cast<int>(rows.size()))
        return;
    touch(rows[static_cast<std::size_t>(row)]->key());
    drop(row);
}

QSet<QString> PortTableModel::changedSince(unsigned mark) const {
    QSet<QString> keys;
    for (auto it = changed.begin(); it != changed.end(); ++it)
        if (it.value() > mark)
            keys.insert(it.key());
    return keys;
}

QSet<QString> PortTableModel::mergeAll(const std::vector<quaymap::Mapping>& records,
                                       unsigned mark) {
    QSet<QString> keys;
    Rows fresh;
    for (const quaymap::Mapping& record : records) {
        const QString key = Port_Entry::keyOf(record);
        keys.insert(key);
        if (changed.value(key) > mark)
            continue;
        const int row = rowOfKey(key);
        if (row >= 0) {
            apply(row, record);
            continue;
        }
        fresh.push_back(std::make_shared<Port_Entry>(record));
        fresh.back()->setRecordMark(marks.value(key));
    }
    if (fresh.empty())
        return keys;
    const int first = static_cast<int>(rows.size());
    beginInsertRows({}, first, first + static_cast<int>(fresh.size()) - 1);
    rows.insert(rows.end(), fresh.begin(), fresh.end());
    endInsertRows();
    return keys;
}

PortTableModel::Rows PortTableModel::keepOnly(const QSet<QString>& keys) {
    Rows dropped;
    for (int row = rowCount() - 1; row >= 0; --row) {
        if (keys.contains(rows[static_cast<std::size_t>(row)]->key()))
            continue;
        dropped.push_back(rows[static_cast<std::size_t>(row)]);
        drop(row);
    }
    return dropped;
}

void PortTableModel::setMarks(const QHash<QString, QString>& fresh) {
    for (auto it = fresh.begin(); it != fresh.end(); ++it) {
        marks.insert(it.key(), it.value());
        const int row = rowOfKey(it.key());
        if (row < 0)
            continue;
        rows[static_cast<std::size_t>(row)]->setRecordMark(it.value());
        emit dataChanged(index(row, 0), index(row, columnCount() - 1));
    }
}

void PortTableModel::apply(int row, const quaymap::Mapping& record) {
    Port_Entry* entry = rows[static_cast<std::size_t>(row)].get();
    const quaymap::Mapping held = entry->record();
    if (held == record && held.lease_duration == record.lease_duration)
        return;
    entry->setRecord(record);
    emit dataChanged(index(row, 0), index(row, columnCount() - 1));
}

void PortTableModel::drop(int row) {
    beginRemoveRows({}, row, row);
    rows.erase(rows.begin() + row);
    endRemoveRows();
}

int PortTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(rows.size());
}

int PortTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(identifiers.size());
}

QVariant PortTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount() || index.column() >= identifiers.size())
        return {};
    const Port_Entry& entry = *rows[static_cast<std::size_t>(index.row())];
    const QString& identifier = identifiers.at(index.column());
    if (role == SortRole) {
        const QVariant key = entry.property((identifier + "_sort").toLatin1().constData());
        if (key.isValid())
            return key;
    } else if (role != Qt::DisplayRole && role != Qt::ToolTipRole) {
        return {};
    }
    // A column whose identifier names no property shows an empty cell.
    const QVariant value = entry.property(identifier.toLatin1().constData());
    if (role == SortRole || value.typeId() != QMetaType::QString)
        return value;
    // Router text is data: one line, never markup (a tool tip would read markup as such).
    const QString shown = QString::fromStdString(quaymap::one_line(value.toString().toStdString()));
    return role == Qt::ToolTipRole ? Qt::convertFromPlainText(shown) : shown;
}

QVariant PortTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || section < 0 || section >= identifiers.size())
        return QAbstractTableModel::headerData(section, orientation, role);
    if (role == IdentifierRole)
        return identifiers.at(section);
    if (role == Qt::DisplayRole)
        return columnTitle(identifiers.at(section));
    return {};
}

PortSortModel::PortSortModel(QObject* parent) : QSortFilterProxyModel(parent) {
    setSortRole(PortTableModel::SortRole);
}

bool PortSortModel::lessThan(const QModelIndex& left, const QModelIndex& right) const {
    const QVariant a = left.data(sortRole()), b = right.data(sortRole());
    if (a.typeId() == QMetaType::LongLong && b.typeId() == QMetaType::LongLong)
        return a.toLongLong() < b.toLongLong();
    QCollator collator;
    collator.setNumericMode(true);
    return collator.compare(a.toString(), b.toString()) < 0;
}
