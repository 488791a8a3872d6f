#pragma once
// The OTP record: a unit's product identity, kept in its one-time-programmable area. The area
// may hold several records; the last one is the current one.

#include "device/memory_map.h"
#include "device/product.h"

#include <QByteArray>
#include <QDebug>
#include <QString>
#include <QtGlobal>

#include <array>

namespace Device {

// The OTP area is 512 bytes in 32 slots of 16 bytes; unprogrammed bytes read FF. A slot that
// holds a record:
//   offset  size  content
//   0       4     marker 11 47 23 01 (little-endian 0x01234711)
//   4       4     product bytes (ProductInfoRaw)
//   8       8     tail, kept unchanged and not interpreted
namespace otp_layout {
constexpr quint32 marker = 0x01234711;
constexpr int area_size = memory_map::otp_length;
constexpr int slot_size = 16;
constexpr int last_slot_offset = area_size - slot_size; // 496
constexpr int product_offset = 4;
constexpr int tail_offset = 8;
constexpr int tail_size = 8;
} // namespace otp_layout

// The decoded current record. `valid` says whether the unit may be used at all.
struct OTP_Info {
    ProductInfo product;
    std::array<quint8, otp_layout::tail_size> tail{};
    bool valid = false;

    // The marketing model name: "N/A" for `invalid`, "?" for `undefined`.
    QString product_name() const { return product.product_name(); }

    // Three lines, each ending in a newline: "OTP info:", "Marker valid|invalid", "Product: ...".
    operator QString() const;
};

// The last marker in the image must start an aligned slot at 496 at most, and its whole slot
// must lie inside the image; anything else gives the invalid record. Logs at info level when
// the record names no product or an unknown one.
OTP_Info make_OTP_Info(const QByteArray& image);
// Reads the whole file; a file that cannot be opened gives the invalid record, silently.
OTP_Info make_OTP_Info(const QString& path);
// A string literal is a path (it would otherwise fit both overloads).
inline OTP_Info make_OTP_Info(const char* path) { return make_OTP_Info(QString::fromUtf8(path)); }

// The text form, unquoted; the stream's quoting is restored afterwards.
QDebug operator<<(QDebug dbg, const OTP_Info& info);

} // namespace Device
