#include "cli/board.h"

#include <QRegularExpression>
#include <QStringList>
#include <QVector>

#include <algorithm>
#include <cstdio>

namespace Cli {

namespace {

QVector<int> numbers(const QString& port) {
    QVector<int> n;
    for (const QString& part : port.split(QRegularExpression(QStringLiteral("[-.]"))))
        n << part.toInt();
    return n;
}

// Columns wide enough for a hub's port and a serial; the phase is cut to its column.
QString cell(const QString& text, int width) {
    return text.length() > width ? text.left(width - 1) + QChar(0x2026) : text.leftJustified(width);
}

} // namespace

bool port_before(const QString& a, const QString& b) {
    const QVector<int> x = numbers(a);
    const QVector<int> y = numbers(b);
    if (x != y)
        return std::lexicographical_compare(x.begin(), x.end(), y.begin(), y.end());
    return a < b;
}

Board::Line& Board::line_of(const Who& who) {
    Line& line = lines[who.port];
    if (!who.serial.isEmpty())
        line.serial = who.serial + (who.serial_shared ? QStringLiteral("*") : QString());
    return line;
}

void Board::phase(const Who& who, const QString& words) {
    Line& line = line_of(who);
    line.phase = words;
    line.percent = -1;
    draw();
}

void Board::percent(const Who& who, int percent) {
    line_of(who).percent = percent;
    draw();
}

void Board::outcome(const Who& who, const QString& outcome) {
    line_of(who).outcome = outcome;
    draw();
}

// Up to the board's first line, then every line anew, each cleared first.
void Board::draw() {
    if (drawn > 0)
        std::fprintf(stdout, "\x1b[%dA", drawn);
    for (const auto& [port, line] : lines) {
        const QString percent = line.percent < 0 ? QString() : QString::number(line.percent) + " %";
        const QString text = cell(port, 10) + cell(line.serial, 16) + cell(line.phase, 44) +
                             cell(percent, 7) + line.outcome;
        std::fprintf(stdout, "\x1b[2K%s\n", text.toUtf8().constData());
    }
    drawn = static_cast<int>(lines.size());
    std::fflush(stdout);
}

} // namespace Cli
