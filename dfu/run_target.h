#pragma once
// Whose dfu-util runs these are. One unit's upgrade names its unit's port on every command line
// (dfu-util 0.9's -p, an exact match of the path it lists), keeps its working files in a folder
// of its own, and has a stop switch of its own, so that stopping one unit never gives up
// another unit's runs. The default target is the one unit attached, with the working files in
// the extraction directory: every command line and file is then exactly the program's usual.

#include "dfu/command.h"

#include <QString>
#include <QStringList>

#include <atomic>

namespace DFU {

// Which runs of one target a stop gives up (see runner.h for why transfers are kept).
class GiveUpSwitch {
public:
    void give_up_short_runs() { raise(short_runs); }
    void give_up() { raise(everything); }
    void reset() { level = nothing; }
    bool gives_up(CmdID id) const;
    bool giving_up() const { return level == everything; }

private:
    enum Level : int { nothing, short_runs, everything };
    void raise(Level to);
    std::atomic<int> level{nothing};
};

struct RunTarget {
    QString port;   // as dfu-util lists it (path="1-1.3"); empty: the one unit attached
    QString folder; // of the unit's uploads; empty: the extraction directory
    GiveUpSwitch* give_up = nullptr; // the target's own; the process-wide one applies always

    // What every command line of the target adds: "-p PORT", or nothing.
    QStringList selection() const;
    // The path of one of the unit's working files.
    QString file(const QString& base_name) const;
};

} // namespace DFU
