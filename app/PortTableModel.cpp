#include "PortTableModel.h"

namespace {

QString columnTitle(const QString& identifier) {
    if (identifier == QLatin1String("Name"))
        return PortTableModel::tr("Name");
    if (identifier == QLatin1String("Listen_port"))
        return PortTableModel::tr("Port");
    if (identifier == QLatin1String("Protocol"))
        return PortTableModel::tr("Protocol");
    if (identifier == QLatin1String("IP"))
        return PortTableModel::tr("Internal address");
    return identifier;
}

} // namespace

PortTableModel::PortTableModel(const PortTableDataSource& dataSource, QObject* parent)
    : QAbstractTableModel(parent),
      source(dataSource), identifiers{"Name", "Listen_port", "Protocol", "IP"} {}

void PortTableModel::setColumnIdentifiers(const QStringList& list) {
    beginResetModel();
    identifiers = list;
    endResetModel();
}

void PortTableModel::reloadData() {
    beginResetModel();
    endResetModel();
}

int PortTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : source.numberOfRowsInTableView();
}

int PortTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(identifiers.size());
}

QVariant PortTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::ToolTipRole))
        return {};
    if (index.column() >= identifiers.size() || index.row() >= rowCount())
        return {};
    return source.objectValueForTableColumn(identifiers.at(index.column()), index.row());
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
