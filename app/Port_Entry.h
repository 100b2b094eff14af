// One row of the mapping table: a mapping as the router holds it.
#pragma once

#include "Mapping.h"

#include <QObject>
#include <QString>

// Lives and changes on the main thread only: workers hand over mappings, never rows. The property
// names are the table's column identifiers: the table finds a cell with property(name). The row
// keeps the router's whole record, since delete and renewal hand it back to the engine as the
// router listed it.
class Port_Entry : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Name READ getName WRITE setName)
    Q_PROPERTY(QString Listen_port READ getListen_port WRITE setListen_port)
    Q_PROPERTY(QString Protocol READ getProtocol WRITE setProtocol)
    Q_PROPERTY(QString IP READ getIP WRITE setIP)
    // "2222 → 22" when the traffic goes to another port inside.
    Q_PROPERTY(QString Ports READ getPorts)
    // "permanent", "6 d 23 h": what was left when the router was last asked.
    Q_PROPERTY(QString Lease READ getLease)
    // The lease in seconds for sorting, permanent last; the table sorts a column by the
    // property "<identifier>_sort" where a row has one.
    Q_PROPERTY(qlonglong Lease_sort READ leaseSortKey)
    // What QuayMap's record says of the mapping: "kept", "made here", or nothing.
    Q_PROPERTY(QString Record READ getRecord)

  public:
    explicit Port_Entry(QObject* parent = nullptr);
    explicit Port_Entry(const quaymap::Mapping& record, QObject* parent = nullptr);

    QString getName() const;
    void setName(const QString& value);
    QString getListen_port() const;
    void setListen_port(const QString& value);
    QString getProtocol() const;
    void setProtocol(const QString& value);
    QString getIP() const;
    void setIP(const QString& value);
    QString getPorts() const;
    QString getLease() const;
    qlonglong leaseSortKey() const;
    QString getRecord() const { return mark; }
    void setRecordMark(const QString& value) { mark = value; }

    quaymap::Mapping record() const;
    void setRecord(const quaymap::Mapping& value);
    // The table's key of a mapping: external port and protocol, as the router names it.
    QString key() const;
    static QString keyOf(const quaymap::Mapping& record);

  private:
    QString read(const std::string quaymap::Mapping::*field) const;
    void write(std::string quaymap::Mapping::*field, const QString& value);

    quaymap::Mapping row;
    QString mark;
};
