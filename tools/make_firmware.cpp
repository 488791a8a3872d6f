// Build-time tool: writes the desired firmware the program carries, as a raw flash image
// (firmware.bin) and as the DfuSe file that dfu-util writes into a unit (firmware.dfu).
// The output is deterministic: the same bytes on every build. The build carries it when no
// release is supplied (the development firmware); with options it makes another firmware of the
// same kind, for example the release CI builds its package with.
//
// Usage: make_firmware [--revision <revision>] [--seed <number>] <output-dir>

#include "device/bytes.h"
#include "device/memory_map.h"
#include "device/record_writers.h"
#include "device/vector_table.h"
#include "dfu/dfuse_file.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdio>
#include <cstring>
#include <optional>

namespace {

constexpr int image_size = 400308;
constexpr int info_offset = 428; // where this firmware keeps its information block
using Device::memory_map::flash_base;
namespace vectors = Device::vector_table;

// What the options choose; the defaults are the development firmware's.
struct Choice {
    QString revision = QStringLiteral("B8");
    quint32 seed = 0x4C554D4F;
    QString dir;
};

void put_u32(QByteArray& image, int offset, quint32 v) {
    image.replace(offset, 4, Device::bytes::le32_bytes(v));
}

// Firmware-like filler: Thumb-2 looking half-words from a fixed linear congruential generator.
QByteArray code_bytes(int size, quint32 seed) {
    QByteArray out(size, '\0');
    quint32 state = seed;
    for (int i = 0; i + 1 < size; i += 2) {
        state = state * 1664525u + 1013904223u;
        const quint16 hw = static_cast<quint16>(state >> 16);
        out[i] = static_cast<char>(hw & 0xFF);
        out[i + 1] = static_cast<char>(0x40 | ((hw >> 8) & 0x3F)); // keep it plausible
    }
    return out;
}

QByteArray info_block(const QString& revision) {
    return Device::make_FW_Info_block(
        {Device::VELK}, QStringLiteral("LUMO7"), revision,
        {
            {QStringLiteral("Creation date"), QStringLiteral("2026-11-23")},
            {QStringLiteral("Creation time"), QStringLiteral("14:32:07")},
            {QStringLiteral("Git hash of FW"), QStringLiteral("a3f9c41e7d2b")},
            {QStringLiteral("Git hash of PL"), QStringLiteral("5be2907c11fa")},
            {QStringLiteral("Git hash of IG"), QStringLiteral("0d7c3a9e4418")},
            {QStringLiteral("Git hash of PL/IG"), QStringLiteral("77a1e6d03c52")},
            {QStringLiteral("Git hash of L3"), QStringLiteral("c94b2f18e6a0")},
            {QStringLiteral("Git tag"), QStringLiteral("LUMO7-") + revision},
            {QStringLiteral("Firmware compiler version"),
             QStringLiteral("arm-none-eabi-gcc 10.3.1")},
        });
}

QByteArray make_image(const QByteArray& block, quint32 seed) {
    QByteArray image = code_bytes(image_size, seed);

    // The vector table, which the build's check wants bootable: the stack at the SRAM's top, then
    // Thumb handler addresses into the image's code, the reset address first.
    using Device::memory_map::sram_base, Device::memory_map::sram_size;
    put_u32(image, vectors::stack_pointer_offset, sram_base + sram_size);
    for (int i = vectors::reset_address_offset / 4; i < info_offset / 4; ++i)
        put_u32(image, 4 * i,
                flash_base + 0x800 + 0x10 * static_cast<quint32>(i) + vectors::thumb_bit);
    image.replace(info_offset, block.size(), block);

    // Unused flash at the end of the image reads erased.
    for (int i = image_size - 308; i < image_size; ++i)
        image[i] = static_cast<char>(0xFF);
    return image;
}

bool write_file(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size()) {
        std::fprintf(stderr, "make_firmware: cannot write %s\n", qPrintable(path));
        return false;
    }
    return true;
}

std::optional<Choice> parse_options(int argc, char** argv) {
    Choice choice;
    for (int i = 1; i < argc; ++i) {
        const bool has_value = i + 1 < argc;
        bool ok = true;
        if (std::strcmp(argv[i], "--revision") == 0 && has_value)
            choice.revision = QString::fromLocal8Bit(argv[++i]);
        else if (std::strcmp(argv[i], "--seed") == 0 && has_value)
            choice.seed = QString::fromLocal8Bit(argv[++i]).toUInt(&ok, 0);
        else if (choice.dir.isEmpty() && argv[i][0] != '-')
            choice.dir = QString::fromLocal8Bit(argv[i]);
        else
            ok = false;
        if (!ok)
            return std::nullopt;
    }
    return choice.dir.isEmpty() ? std::nullopt : std::optional<Choice>(choice);
}

} // namespace

int main(int argc, char** argv) {
    const std::optional<Choice> choice = parse_options(argc, argv);
    if (!choice) {
        std::fprintf(
            stderr,
            "usage: make_firmware [--revision <revision>] [--seed <number>] <output-dir>\n");
        return 2;
    }
    const QByteArray block = info_block(choice->revision);
    const QByteArray image = make_image(block, choice->seed);

    // The information block's markers must be the first ones in the image.
    const int end = info_offset + block.size() - 4;
    if (image.indexOf(Device::bytes::le32_bytes(Device::fw_layout::begin_marker)) != info_offset ||
        image.indexOf(Device::bytes::le32_bytes(Device::fw_layout::end_marker)) != end) {
        std::fprintf(stderr, "make_firmware: filler contains a marker; change the seed\n");
        return 1;
    }
    const QByteArray dfu = DFU::DfuSe::make_flash_file(image);
    return write_file(choice->dir + "/firmware.bin", image) &&
                   write_file(choice->dir + "/firmware.dfu", dfu)
               ? 0
               : 1;
}
