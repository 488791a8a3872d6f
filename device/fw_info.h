#pragma once
// The firmware information block near the start of every firmware image: the product bytes
// the firmware is built for, its product and revision strings and free-form name/value pairs.

#include "device/product.h"

#include <QByteArray>
#include <QDebug>
#include <QString>
#include <QtGlobal>

#include <utility>
#include <vector>

namespace Device {

// Block layout; offsets from the first byte of the begin marker. Text fields are 32 bytes:
// at most 31 bytes of UTF-8, a NUL, NUL padding.
//   offset       size  content
//   0            4     begin marker 12 47 23 01 (little-endian 0x01234712)
//   4            4     product bytes (ProductInfoRaw)
//   8            32    product string, e.g. "LUMO7"
//   40           32    revision string, e.g. "B8"
//   72           64*k  k pairs: 32-byte name field, 32-byte value field
//   72 + 64*k    4     end marker 13 47 23 01 (little-endian 0x01234713)
// Both markers' first occurrences lie at offset 1948 at most (within the first 2048 bytes of
// flash, which is all that is read from a unit).
namespace fw_layout {
constexpr quint32 begin_marker = 0x01234712;
constexpr quint32 end_marker = 0x01234713;
constexpr int product_offset = 4;
constexpr int name_offset = 8;
constexpr int revision_offset = 40;
constexpr int pairs_offset = 72;
constexpr int text_field_size = 32;
constexpr int pair_size = 2 * text_field_size;
constexpr int max_marker_offset = 1948;
constexpr int detail_column_width = 31; // of the text form
} // namespace fw_layout

using FW_Details = std::vector<std::pair<QString, QString>>;

// The decoded block. The default is also the result of every failed parse.
struct FW_Info {
    ProductInfo product;
    QString name;
    QString revision;
    FW_Details details; // in block order
    bool valid = false;

    // "FW info:" and either a tab and "Invalid", or the Type, Name, Rev. and Details lines.
    operator QString() const;
};

FW_Info make_FW_Info(const QByteArray& image);
// Reads the whole file; a file that cannot be opened gives the default record, silently.
FW_Info make_FW_Info(const QString& path);
// A string literal is a path (it would otherwise fit both overloads).
inline FW_Info make_FW_Info(const char* path) {
    return make_FW_Info(QString::fromUtf8(path));
}

// One 32-byte text field at `offset`. No NUL among 32 bytes gives a null string; a field cut
// short by the end of the image ends there; an offset outside the image gives a null string.
QString get_string(const QByteArray& image, int offset);

// Bytes before the first NUL among p[0] to p[31] (0 to 31), or -1 if there is none.
// Reads up to 32 bytes: `p` must point at a whole text field.
int local_strlen(const char* p);

// The text form, unquoted; the stream's quoting is restored afterwards.
QDebug operator<<(QDebug dbg, const FW_Info& info);

// The key id that a carried firmware has when it is the development firmware, which alone may
// be unsigned: "development, unsigned", wherever a signer's key id stands.
QString development_key_id();

// Who signed a carried firmware, for a sentence: "signed by key <id>" for a minisign key id,
// the development key id as it is.
QString signer(const QString& key_id);

// One line that names a firmware and the file carrying it, by its SHA-256 (hexadecimal), and
// who signed it: "LUMO7 revision B9 for the Lumo-7 (VELK), SHA-256 <digest>, signed by key <id>".
QString identity(const FW_Info& info, const QString& sha256, const QString& key_id);

} // namespace Device
