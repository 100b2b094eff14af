#include "Port_Entry.h"

Port_Entry::Port_Entry(QObject* parent) : QObject(parent) {}

QString Port_Entry::read(const QString& member) const {
    std::lock_guard<std::mutex> guard(lock);
    return member;
}

void Port_Entry::write(QString& member, const QString& value) {
    // QString copies on write, so the row keeps its own text whatever the caller does later.
    std::lock_guard<std::mutex> guard(lock);
    member = value;
}

QString Port_Entry::getName() const {
    return read(Name);
}
void Port_Entry::setName(const QString& value) {
    write(Name, value);
}
QString Port_Entry::getListen_port() const {
    return read(Listen_port);
}
void Port_Entry::setListen_port(const QString& value) {
    write(Listen_port, value);
}
QString Port_Entry::getProtocol() const {
    return read(Protocol);
}
void Port_Entry::setProtocol(const QString& value) {
    write(Protocol, value);
}
QString Port_Entry::getIP() const {
    return read(IP);
}
void Port_Entry::setIP(const QString& value) {
    write(IP, value);
}
