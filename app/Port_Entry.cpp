#include "Port_Entry.h"

#include "explain.h"

#include <limits>

Port_Entry::Port_Entry(QObject* parent) : QObject(parent) {}

Port_Entry::Port_Entry(const quaymap::Mapping& record, QObject* parent)
    : QObject(parent), row(record) {}

QString Port_Entry::read(const std::string quaymap::Mapping::*field) const {
    return QString::fromStdString(row.*field);
}

void Port_Entry::write(std::string quaymap::Mapping::*field, const QString& value) {
    row.*field = value.toStdString();
}

QString Port_Entry::getName() const {
    return read(&quaymap::Mapping::description);
}
void Port_Entry::setName(const QString& value) {
    write(&quaymap::Mapping::description, value);
}
QString Port_Entry::getListen_port() const {
    return read(&quaymap::Mapping::external_port);
}
void Port_Entry::setListen_port(const QString& value) {
    write(&quaymap::Mapping::external_port, value);
}
QString Port_Entry::getProtocol() const {
    return read(&quaymap::Mapping::protocol);
}
void Port_Entry::setProtocol(const QString& value) {
    write(&quaymap::Mapping::protocol, value);
}
QString Port_Entry::getIP() const {
    return read(&quaymap::Mapping::internal_client);
}
void Port_Entry::setIP(const QString& value) {
    write(&quaymap::Mapping::internal_client, value);
}

QString Port_Entry::getPorts() const {
    return QString::fromStdString(quaymap::ports_text(record()));
}

QString Port_Entry::getLease() const {
    return QString::fromStdString(quaymap::lease_text(record().lease_duration));
}

qlonglong Port_Entry::leaseSortKey() const {
    const QString seconds = read(&quaymap::Mapping::lease_duration);
    bool number = false;
    const qlonglong value = seconds.toLongLong(&number);
    if (!number)
        return -1;
    return value == 0 ? std::numeric_limits<qlonglong>::max() : value;
}

quaymap::Mapping Port_Entry::record() const {
    return row;
}

void Port_Entry::setRecord(const quaymap::Mapping& value) {
    row = value;
}

QString Port_Entry::key() const {
    return keyOf(record());
}

QString Port_Entry::keyOf(const quaymap::Mapping& record) {
    return QString::fromStdString(record.external_port + "/" + record.protocol).toUpper();
}
