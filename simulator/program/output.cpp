#include "simulator/program/output.h"

#include "dfu/dfu_util.h"

#include <cstdio>

namespace simulator {

namespace {

QString& name_store() {
    static QString name = QStringLiteral("orvanta_dfu_simulator");
    return name;
}

void write(std::FILE* stream, const QByteArray& bytes) {
    std::fwrite(bytes.constData(), 1, static_cast<std::size_t>(bytes.size()), stream);
    std::fflush(stream);
}

} // namespace

void set_program_name(const QString& name) {
    name_store() = name;
}
const QString& program_name() {
    return name_store();
}

void out(const QByteArray& bytes) {
    write(stdout, bytes);
}
void out(const QString& text) {
    write(stdout, text.toUtf8());
}
void say(const QString& line) {
    out(line + QLatin1Char('\n'));
}
void err(const QString& text) {
    write(stderr, text.toUtf8());
}
void warn(const QString& message) {
    err(QStringLiteral("dfu-util: ") + message + QLatin1Char('\n'));
}

void fail(int code, const QString& message) {
    warn(message);
    throw Exit{code};
}

void usage_error(const QString& message) {
    err(program_name() + QStringLiteral(": ") + message + QLatin1Char('\n'));
    throw Exit{ex_usage};
}

void print_banner() {
    out(DFU::dfu_util::expected_output_of_execution_test);
}

QString hex_address(qint64 address) {
    return QStringLiteral("0x%1").arg(static_cast<quint32>(address), 8, 16, QLatin1Char('0'));
}

} // namespace simulator
