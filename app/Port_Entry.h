// One row of the mapping table.
#pragma once

#include <QObject>
#include <QString>
#include <mutex>

// The four properties are read and replaced whole (each access holds the row's lock), so the
// table may read a row while another thread sets it. Their names are the table's column
// identifiers: the table finds a cell with property(name).
class Port_Entry : public QObject {
    Q_OBJECT
    Q_PROPERTY(QString Name READ getName WRITE setName)
    Q_PROPERTY(QString Listen_port READ getListen_port WRITE setListen_port)
    Q_PROPERTY(QString Protocol READ getProtocol WRITE setProtocol)
    Q_PROPERTY(QString IP READ getIP WRITE setIP)

  public:
    explicit Port_Entry(QObject* parent = nullptr);

    QString getName() const;
    void setName(const QString& value);
    QString getListen_port() const;
    void setListen_port(const QString& value);
    QString getProtocol() const;
    void setProtocol(const QString& value);
    QString getIP() const;
    void setIP(const QString& value);

  private:
    QString read(const QString& member) const;
    void write(QString& member, const QString& value);

    mutable std::mutex lock;
    QString Name{""};
    QString Listen_port{""};
    QString Protocol{""};
    QString IP{""};
};
