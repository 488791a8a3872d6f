#pragma once
// The program's objects, made and joined as start-up makes them, against the fake dfu-util
// (which the test sets up first): the window, the worker polling every 20 ms, the machine, and,
// given a path, the upgrade record there. For tests that drive the window as a user does.

#include "fake_dfu_util.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

class QState;

class WiredProgram {
public:
    // central: a central record's connection string for the record's rows too.
    explicit WiredProgram(const QString& record_path = QString(), const QString& central = QString());
    ~WiredProgram();
    WiredProgram(const WiredProgram&) = delete;
    WiredProgram& operator=(const WiredProgram&) = delete;

    QTemporaryDir dir; // the working files
};

namespace wired {

extern const QString serial;       // of the one unit `attach` connects
constexpr int generous_ms = 60000; // bounds waits; nothing here measures speed

// One Lumo-7 with the given flash.
void attach(FakeDfuUtil& fake, const QByteArray& flash);
bool in(QState* state);
QString text(const char* id); // of the settings

} // namespace wired
