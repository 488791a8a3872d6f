#include "simulator/program/output.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

namespace simulator {

QString program_name = QStringLiteral("orvanta_dfu_simulator");

namespace {
void write(std::FILE* stream, const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}
} // namespace

void out(const QByteArray& bytes) {
    write(stdout, bytes);
}
void say(const QString& line) {
    write(stdout, line.toUtf8() + '\n');
}
void err(const QString& text) {
    write(stderr, text.toUtf8());
}
void warn(const QString& message) {
    err("dfu-util: " + message + '\n');
}

void fail(int code, const QString& message) {
    warn(message);
    throw Exit{code};
}

void usage_error(const QString& message) {
    err(program_name + ": " + message + '\n');
    throw Exit{ex_usage};
}

namespace {
qint64 now_ms() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}
} // namespace

Progress::Progress(const char* label, qint64 duration_ms)
    : label_(label), duration_ms_(duration_ms), started_ms_(now_ms()) {}

void Progress::update(qint64 current, qint64 total) {
    if (total < current) // an unknown total, as dfu-util takes it
        total = current + 1;
    if (total == 0 && current == 0)
        total = 1;
    const qint64 due = started_ms_ + duration_ms_ * current / total;
    if (due > now_ms())
        std::this_thread::sleep_for(std::chrono::milliseconds(due - now_ms()));
    const int marks = static_cast<int>(std::min<qint64>(25, 25 * current / total));
    const qint64 second = now_ms() / 1000;
    if (marks == marks_ && second == second_)
        return;
    const bool filled = marks == 25 && marks_ < 25;
    marks_ = marks;
    second_ = second;
    const QByteArray bar = QByteArray(marks, '=') + QByteArray(25 - marks, ' ');
    out(QString::asprintf("\r%s\t[%s] %3lld%% %12lld bytes", label_, bar.constData(),
                          100 * current / total, current)
            .toUtf8());
    if (filled)
        out(QString::asprintf("\n%s done.\n", label_).toUtf8());
}

} // namespace simulator
