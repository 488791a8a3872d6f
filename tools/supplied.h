#pragma once
// A file given to the build's firmware check (tools/firmware_check.h): its name as given, empty
// when it was not given, and its bytes.

#include <QByteArray>
#include <QString>

namespace firmware_check {

struct Supplied {
    QString name;
    QByteArray bytes;
    bool given() const { return !name.isEmpty(); }
};

} // namespace firmware_check
