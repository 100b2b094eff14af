// The mapping table's model: each column carries an identifier, and a cell is whatever its row
// answers for the property of that name. The model holds no rows; it asks its data source.
#pragma once

#include <QAbstractTableModel>
#include <QStringList>

class PortTableDataSource {
  public:
    virtual ~PortTableDataSource() = default;
    virtual int numberOfRowsInTableView() const = 0;
    virtual QVariant objectValueForTableColumn(const QString& identifier, int row) const = 0;
};

class PortTableModel : public QAbstractTableModel {
    Q_OBJECT

  public:
    // Role under which headerData() answers a column's identifier.
    static constexpr int IdentifierRole = Qt::UserRole + 1;

    explicit PortTableModel(const PortTableDataSource& source, QObject* parent = nullptr);

    // The columns in display order, by identifier ("Name", "Listen_port", "Protocol", "IP").
    void setColumnIdentifiers(const QStringList& identifiers);
    QStringList columnIdentifiers() const { return identifiers; }

    // Re-reads the row count and every cell from the data source.
    void reloadData();

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

  private:
    const PortTableDataSource& source;
    QStringList identifiers;
};
