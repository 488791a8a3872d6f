// Build-time tool: writes the desired firmware the program carries, as a raw flash image
// (firmware.bin) and as the DfuSe file that dfu-util writes into a unit (firmware.dfu).
// The output is deterministic: the same bytes on every build.
//
// Usage: make_firmware <output-dir>

#include "dfu/dfuse_file.h"

#include <QByteArray>
#include <QFile>
#include <QString>

#include <cstdio>
#include <utility>
#include <vector>

namespace {

constexpr int image_size = 400308;
constexpr int info_offset = 428; // the firmware information block
constexpr quint32 flash_base = 0x08000000;
constexpr int field_size = 32;

void put_u32(QByteArray& image, int offset, quint32 v) {
    for (int i = 0; i < 4; ++i)
        image[offset + i] = static_cast<char>((v >> (8 * i)) & 0xFF);
}

void put_text(QByteArray& image, int offset, const char* text) {
    const QByteArray t(text);
    for (int i = 0; i < field_size; ++i)
        image[offset + i] = i < t.size() && i < field_size - 1 ? t[i] : '\0';
}

// Firmware-like filler: Thumb-2 looking half-words from a fixed linear congruential generator.
QByteArray code_bytes(int size) {
    QByteArray out(size, '\0');
    quint32 state = 0x4C554D4F; // fixed seed
    for (int i = 0; i + 1 < size; i += 2) {
        state = state * 1664525u + 1013904223u;
        const quint16 hw = static_cast<quint16>(state >> 16);
        out[i] = static_cast<char>(hw & 0xFF);
        out[i + 1] = static_cast<char>(0x40 | ((hw >> 8) & 0x3F)); // keep it plausible
    }
    return out;
}

QByteArray make_image() {
    QByteArray image = code_bytes(image_size);

    // Cortex-M vector table: initial stack pointer, then odd (Thumb) handler addresses.
    put_u32(image, 0, 0x20020000);
    for (int i = 1; i < info_offset / 4; ++i)
        put_u32(image, 4 * i, flash_base + 0x800 + 0x10 * static_cast<quint32>(i) + 1);

    const std::vector<std::pair<const char*, const char*>> details = {
        {"Creation date", "2026-11-23"},
        {"Creation time", "14:32:07"},
        {"Git hash of FW", "a3f9c41e7d2b"},
        {"Git hash of PL", "5be2907c11fa"},
        {"Git hash of IG", "0d7c3a9e4418"},
        {"Git hash of PL/IG", "77a1e6d03c52"},
        {"Git hash of L3", "c94b2f18e6a0"},
        {"Git tag", "LUMO7-B8"},
        {"Firmware compiler version", "arm-none-eabi-gcc 10.3.1"},
    };
    int at = info_offset;
    put_u32(image, at, 0x01234712); // begin marker
    image[at + 4] = 0x03;           // product: VELK, bytes 1 to 3 unprogrammed
    image[at + 5] = image[at + 6] = image[at + 7] = static_cast<char>(0xFF);
    put_text(image, at + 8, "LUMO7");
    put_text(image, at + 40, "B8");
    at += 72;
    for (const auto& [name, value] : details) {
        put_text(image, at, name);
        put_text(image, at + field_size, value);
        at += 2 * field_size;
    }
    put_u32(image, at, 0x01234713); // end marker, at 1076

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

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_firmware <output-dir>\n");
        return 2;
    }
    const QString dir = QString::fromLocal8Bit(argv[1]);
    const QByteArray image = make_image();

    // The information block's markers must be the first ones in the image.
    const QByteArray begin("\x12\x47\x23\x01", 4);
    const QByteArray end("\x13\x47\x23\x01", 4);
    if (image.indexOf(begin) != info_offset || image.indexOf(end) != 1076) {
        std::fprintf(stderr, "make_firmware: filler contains a marker; change the seed\n");
        return 1;
    }

    DFU::DfuSe::Target target;
    target.alternate_setting = 0;
    target.name = QStringLiteral("ST...");
    target.elements.push_back({flash_base, image});
    const QByteArray dfu = DFU::DfuSe::make_file({target}, 0x0483, 0xdf11);

    return write_file(dir + "/firmware.bin", image) && write_file(dir + "/firmware.dfu", dfu) ? 0 : 1;
}
