#pragma once
// Several units on a person's terminal: one line per port, redrawn in place, with the unit's
// serial, where it stands, its percent and its outcome.

#include <QString>

#include <map>

namespace Cli {

// Whose event it is: a unit on its port; empty for the one unit of a single-unit verb.
struct Who {
    QString port;
    QString serial;             // once known
    bool serial_shared = false; // another attached unit reports the same serial
};

// Ports in the order of their numbers: 1-1.2 before 1-1.10.
bool port_before(const QString& a, const QString& b);
struct PortOrder {
    bool operator()(const QString& a, const QString& b) const { return port_before(a, b); }
};

class Board {
public:
    void phase(const Who& who, const QString& words);
    void percent(const Who& who, int percent);
    void outcome(const Who& who, const QString& outcome);
    // Before another line is written below the board: it is drawn anew under that line.
    void forget_drawing() { drawn = 0; }

private:
    struct Line {
        QString serial;
        QString phase;
        int percent = -1; // none
        QString outcome;
    };
    Line& line_of(const Who& who);
    void draw();

    std::map<QString, Line, PortOrder> lines;
    int drawn = 0; // lines on the terminal, above the cursor
};

} // namespace Cli
