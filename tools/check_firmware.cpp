// Build-time tool: checks the firmware the build carries (tools/firmware_check.h) and, only when
// it passes, writes the checked copies where the build embeds them, the DfuSe file's SHA-256 and
// the key id of its signer as text, and the firmware's identity for the package (a CMake
// script). The build runs it every time, whatever the supplied files' dates: a file is
// rewritten, whole, only when its content changes, so that nothing downstream rebuilds
// needlessly. A refusal is one line on standard error; then nothing is written and earlier
// copies are removed, so that nothing unchecked can be embedded.
//
// Usage: check_firmware [--dfu <file>] [--bin <file>] [--sha256 <digest>]
//                       [--signature <file>] [--trusted-key <file>]... [--development]
//                       <out-dfu> <out-bin> <out-sha256> <out-key-id> <out-identity>

#include "files/support_misc.h"
#include "tools/firmware_check.h"

#include <QFile>
#include <QSaveFile>
#include <QStringList>

#include <cstdio>
#include <cstring>
#include <optional>

namespace {

constexpr int output_count = 5; // DfuSe file, raw image, digest, key id, identity

struct Arguments {
    firmware_check::Release release;
    QStringList outputs;
};

// The option at argv[i] with its value; false when it is none of them.
bool take_option(const char* option, const QString& value, firmware_check::Release& r) {
    if (std::strcmp(option, "--dfu") == 0)
        r.dfu.name = value;
    else if (std::strcmp(option, "--bin") == 0)
        r.image.name = value;
    else if (std::strcmp(option, "--sha256") == 0)
        r.pinned_sha256 = value;
    else if (std::strcmp(option, "--signature") == 0)
        r.signature.name = value;
    else if (std::strcmp(option, "--trusted-key") == 0)
        r.trusted_keys.push_back({value, {}});
    else
        return false;
    return true;
}

std::optional<Arguments> parse_arguments(int argc, char** argv) {
    Arguments a;
    for (int i = 1; i < argc; ++i) {
        const QString value = i + 1 < argc ? QString::fromLocal8Bit(argv[i + 1]) : QString();
        if (std::strcmp(argv[i], "--development") == 0)
            a.release.development = true;
        else if (argv[i][0] != '-')
            a.outputs << QString::fromLocal8Bit(argv[i]);
        else if (!value.isEmpty() && take_option(argv[i], value, a.release))
            ++i;
        else
            return std::nullopt;
    }
    if (a.outputs.size() != output_count || (!a.release.dfu.given() && !a.release.image.given()))
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

// Every given file, or the refusal of the first that cannot be read.
QString read_all_supplied(firmware_check::Release& r) {
    QString refusal;
    bool ok = read_supplied(r.dfu, refusal) && read_supplied(r.image, refusal) &&
              read_supplied(r.signature, refusal);
    for (firmware_check::Supplied& key : r.trusted_keys)
        ok = ok && read_supplied(key, refusal);
    return refusal;
}

// A CMake string: backslashes, quotes and variable references escaped.
QByteArray cmake_string(QString text) {
    text.replace('\\', QStringLiteral("\\\\")).replace('"', QStringLiteral("\\\""));
    return '"' + text.replace('$', QStringLiteral("\\$")).toUtf8() + '"';
}

QByteArray cmake_set(const char* variable, const QString& value) {
    return QByteArray("set(") + variable + ' ' + cmake_string(value) + ")\n";
}

// ORVANTA_FIRMWARE_SIGNER says who signed it in a sentence's words (Device::signer);
// ORVANTA_FIRMWARE_DEVELOPMENT is true for the development firmware, which may be unsigned.
QByteArray identity_script(const firmware_check::Carried& carried) {
    const Device::FW_Info& info = carried.info;
    const bool development = carried.key_id == Device::development_key_id();
    return "# Written by check_firmware: the firmware this build carries.\n" +
           cmake_set("ORVANTA_FIRMWARE_NAME", info.name) +
           cmake_set("ORVANTA_FIRMWARE_REVISION", info.revision) +
           cmake_set("ORVANTA_FIRMWARE_PRODUCT", info.product.product_name()) +
           cmake_set("ORVANTA_FIRMWARE_DIGEST", carried.sha256) +
           cmake_set("ORVANTA_FIRMWARE_KEY_ID", carried.key_id) +
           cmake_set("ORVANTA_FIRMWARE_SIGNER", Device::signer(carried.key_id)) +
           cmake_set("ORVANTA_FIRMWARE_DEVELOPMENT", development ? "TRUE" : "FALSE");
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
           write_if_changed(outputs[3], carried.key_id.toUtf8() + '\n') &&
           write_if_changed(outputs[4], identity_script(carried));
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
                             "<digest>] [--signature <file>] [--trusted-key <file>]... "
                             "[--development] <out-dfu> <out-bin> <out-sha256> <out-key-id> "
                             "<out-identity>\n");
        return 2;
    }
    if (const QString refusal = read_all_supplied(a->release); !refusal.isEmpty())
        return refuse(a->outputs, refusal);
    const firmware_check::Outcome outcome = firmware_check::check(a->release);
    if (!outcome.carried)
        return refuse(a->outputs, outcome.refusal);
    const firmware_check::Carried& carried = *outcome.carried;
    if (!write_outputs(a->outputs, carried))
        return refuse(a->outputs, a->outputs.join(QStringLiteral(", ")) + ": cannot be written");
    std::printf("Firmware carried: %s\n",
                qPrintable(Device::identity(carried.info, carried.sha256, carried.key_id)));
    return 0;
}
