#pragma once
// The window's program, made by the function start-up calls, against the fake dfu-util (which
// the test sets up first): the window, the unit's upgrade with the worker polling every 20 ms,
// and, given a path, the upgrade record there. For tests that drive the window as a user does.
// One at a time; the wired:: functions reach the one that lives.

#include "fake_dfu_util.h"

#include <QByteArray>
#include <QString>

#include <memory>

class HistoryWindow;
class MainWindow;
class QState;
class SM_A;
class SM_B;
class WindowProgram;

class WiredProgram {
public:
    // central: a central record's connection string for the record's rows too.
    explicit WiredProgram(const QString& record_path = QString(), const QString& central = QString());
    ~WiredProgram();
    WiredProgram(const WiredProgram&) = delete;
    WiredProgram& operator=(const WiredProgram&) = delete;

    WindowProgram& program() { return *program_; }

private:
    std::unique_ptr<WindowProgram> program_;
};

namespace wired {

extern const QString serial;       // of the one unit `attach` connects
constexpr int generous_ms = 60000; // bounds waits; nothing here measures speed

// Of the program that lives.
SM_A* sm_A();
SM_B* sm_B();
MainWindow* main_window();
HistoryWindow* history_window();

// One Lumo-7 with the given flash.
void attach(FakeDfuUtil& fake, const QByteArray& flash);
bool in(QState* state);
QString text(const char* id); // of the settings

} // namespace wired
