// Build-time tool: checks the firmware the build carries (tools/firmware_check.h) and, only when
// it passes, writes the checked copies where the build embeds them, the DfuSe file's SHA-256 as
// text, and the firmware's identity for the package (a CMake script). The build runs it every
// time, whatever the supplied files' dates: a file is rewritten, whole, only when its content
// changes, so that nothing downstream rebuilds needlessly. A refusal is one line on standard
// error; then nothing is written and earlier copies are removed, so that nothing unchecked can be
// embedded.
//
// Usage: check_firmware [--dfu <file>] [--bin <file>] [--sha256 <digest>]
//                       <out-dfu> <out-bin> <out-sha256> <out-identity>

#include "files/support_misc.h"
#include "tools/firmware_check.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>

#include <cstdio>
#include <cstring>
#include <optional>

namespace {

struct Arguments {
    firmware_check::Supplied dfu;
    firmware_check::Supplied bin;
    QString sha256;
    QStringList outputs; // DfuSe file, raw image, digest, identity
};

std::optional<Arguments> parse_arguments(int argc, char** argv) {
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        const QString value = i + 1 < argc ? QString::fromLocal8Bit(argv[i + 1]) : QString();
        if (std::strcmp(argv[i], "--dfu") == 0 && !value.isEmpty())
            a.dfu.name = value;
        else if (std::strcmp(argv[i], "--bin") == 0 && !value.isEmpty())
            a.bin.name = value;
        else if (std::strcmp(argv[i], "--sha256") == 0 && !value.isEmpty())
            a.sha256 = value;
        else if (argv[i][0] != '-') {
            a.outputs << QString::fromLocal8Bit(argv[i]);
            continue;
        } else
            return std::nullopt;
        ++i;
    }
    if (a.outputs.size() != 4 || (!a.dfu.given() && !a.bin.given()))
        return std::nullopt;
    return a;
}

// Reads a given file; a file that cannot be read is a refusal of its own.
bool read_supplied(firmware_check::Supplied& file, QString& refusal) {
    bool ok = true;
    if (file.given())
        file.bytes = support_misc::read_binary_file(file.name, &ok);
    if (!ok)
        refusal = file.name + QStringLiteral(": cannot be read");
    return ok;
}

// A CMake string: backslashes, quotes and variable references escaped.
QByteArray cmake_string(QString text) {
    text.replace('\\', QStringLiteral("\\\\")).replace('"', QStringLiteral("\\\""));
    return '"' + text.replace('$', QStringLiteral("\\$")).toUtf8() + '"';
}

QByteArray identity_script(const firmware_check::Carried& carried) {
    const Device::FW_Info& info = carried.info;
    return "# Written by check_firmware: the firmware this build carries.\n"
           "set(ORVANTA_FIRMWARE_NAME " +
           cmake_string(info.name) +
           ")\n"
           "set(ORVANTA_FIRMWARE_REVISION " +
           cmake_string(info.revision) +
           ")\n"
           "set(ORVANTA_FIRMWARE_PRODUCT " +
           cmake_string(info.product.product_name()) +
           ")\n"
           "set(ORVANTA_FIRMWARE_DIGEST " +
           cmake_string(carried.sha256) + ")\n";
}

// Left alone when it already holds these bytes: its date then tells the build nothing changed.
bool write_if_changed(const QString& path, const QByteArray& bytes) {
    bool exists = false;
    const QByteArray present = support_misc::read_binary_file(path, &exists);
    if (exists && present == bytes)
        return true;
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

bool write_outputs(const QStringList& outputs, const firmware_check::Carried& carried) {
    return write_if_changed(outputs[0], carried.dfu) &&
           write_if_changed(outputs[1], carried.image) &&
           write_if_changed(outputs[2], carried.sha256.toLatin1() + '\n') &&
           write_if_changed(outputs[3], identity_script(carried));
}

int refuse(const QStringList& outputs, const QString& refusal) {
    for (const QString& path : outputs)
        QFile::remove(path);
    std::fprintf(stderr, "Firmware refused: %s\n", qPrintable(refusal));
    return 1;
}

} // namespace

int main(int argc, char** argv) {
    // The parsers' diagnostics are for the program's log; a refusal here is one line of its own.
    qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
    std::optional<Arguments> a = parse_arguments(argc, argv);
    if (!a) {
        std::fprintf(stderr, "usage: check_firmware [--dfu <file>] [--bin <file>] [--sha256 "
                             "<digest>] <out-dfu> <out-bin> <out-sha256> <out-identity>\n");
        return 2;
    }
    QString refusal;
    if (!read_supplied(a->dfu, refusal) || !read_supplied(a->bin, refusal))
        return refuse(a->outputs, refusal);
    const firmware_check::Outcome outcome = firmware_check::check(a->dfu, a->bin, a->sha256);
    if (!outcome.carried)
        return refuse(a->outputs, outcome.refusal);
    const firmware_check::Carried& carried = *outcome.carried;
    if (!write_outputs(a->outputs, carried))
        return refuse(a->outputs, a->outputs.join(QStringLiteral(", ")) + ": cannot be written");
    std::printf("Firmware carried: %s\n",
                qPrintable(Device::identity(carried.info, carried.sha256)));
    return 0;
}
