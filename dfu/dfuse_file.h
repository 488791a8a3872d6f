#pragma once
// ST's DfuSe container: the file format that dfu-util -D writes into a unit in its ROM
// bootloader. Written by the build (the desired firmware), read back by tests and read by the
// simulator the way dfu-util reads it. No Qt GUI and no device access here.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>
#include <vector>

namespace DFU {
namespace DfuSe {

// File layout, all fields little-endian:
//   prefix   0   5  signature "DfuSe"
//            5   1  format version (1)
//            6   4  image size: the whole file without its 16-byte suffix
//           10   1  number of targets
//   target   0   6  signature "Target"
//            6   1  alternate setting
//            7   4  target named (non-zero when the name is used)
//           11 255  target name, NUL padded
//          266   4  target size: bytes of all its elements, headers included
//          270   4  number of elements
//   element  0   4  start address
//            4   4  size n
//            8   n  data
//   suffix   0   2  bcdDevice, 2 idProduct, 4 idVendor, 6 bcdDFU (0x011A),
//            8   3  "UFD", 11 1 length (16), 12 4 CRC-32 of everything before it
constexpr int prefix_size = 11;
constexpr int target_prefix_size = 274;
constexpr int target_name_size = 255;
constexpr int element_header_size = 8;
constexpr int suffix_size = 16;
constexpr quint16 dfuse_bcd_dfu = 0x011A;
constexpr char prefix_signature[] = "DfuSe";
constexpr char target_signature[] = "Target";
constexpr char suffix_signature[] = "UFD";

// The fixed-size parts, each read from `at` only when all its bytes lie in `bytes`; a
// signature is given as read, for the caller to judge.
struct Prefix {
    QByteArray signature;
    quint8 format_version = 0;
    quint32 image_size = 0;
    quint8 targets = 0;
};
struct TargetPrefix {
    QByteArray signature;
    quint8 alternate_setting = 0;
    quint32 named = 0;
    QByteArray name; // all 255 bytes
    quint32 size = 0;
    quint32 elements = 0;
};
struct ElementHeader {
    quint32 address = 0;
    quint32 size = 0;
};
struct Suffix {
    quint16 device = 0;
    quint16 product = 0;
    quint16 vendor = 0;
    quint16 dfu_version = 0;
    QByteArray signature;
    quint8 length = 0;
    quint32 crc = 0;
};
std::optional<Prefix> read_prefix(const QByteArray& bytes, int at = 0);
std::optional<TargetPrefix> read_target_prefix(const QByteArray& bytes, int at);
std::optional<ElementHeader> read_element_header(const QByteArray& bytes, int at);
// The last suffix_size bytes of the file.
std::optional<Suffix> read_suffix(const QByteArray& bytes);

struct Element {
    quint32 address = 0;
    QByteArray data;
};

struct Target {
    quint8 alternate_setting = 0;
    QString name;
    std::vector<Element> elements;
};

struct File {
    bool valid = false;
    QString error; // why the file was rejected; empty when valid
    quint8 format_version = 0;
    quint16 device = 0;
    quint16 product = 0;
    quint16 vendor = 0;
    quint16 dfu_version = 0;
    quint32 crc = 0;
    std::vector<Target> targets;
};

// The CRC of the DFU suffix (CRC-32, reflected, initial value all ones, no final inversion).
quint32 suffix_crc(const QByteArray& bytes);

QByteArray make_file(const std::vector<Target>& targets, quint16 vendor, quint16 product,
                     quint16 device = 0xFFFF);

// The USB identity of the unit's ROM bootloader, which a firmware file's suffix names.
constexpr quint16 bootloader_vendor = 0x0483;
constexpr quint16 bootloader_product = 0xdf11;

// The DfuSe file of one flash image, as the unit's bootloader takes it: one target for the
// flash's alternate setting with the image as its one element, at the flash's start.
QByteArray make_flash_file(const QByteArray& image);

// Never reads past the input; a malformed file gives valid == false with a reason.
File parse(const QByteArray& bytes);

// The data of the first element that starts at address, in any target; null if none.
QByteArray element_at(const File& file, quint32 address);

} // namespace DfuSe
} // namespace DFU
