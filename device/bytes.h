#pragma once
// Bounds-checked, explicitly little-endian reads from memory images. Every read checks its
// range first and yields nothing rather than touching a byte outside the image.

#include "device/product.h"

#include <QByteArray>
#include <QtGlobal>

#include <optional>

namespace Device {
namespace bytes {

// True when `size` bytes starting at `offset` lie inside `image`; written so that no
// intermediate sum can overflow.
inline bool in_range(const QByteArray& image, int offset, int size) {
    return offset >= 0 && size >= 0 && offset <= image.size() && size <= image.size() - offset;
}

// The four bytes of a little-endian word in storage order, for searching an image.
inline QByteArray le32_bytes(quint32 word) {
    QByteArray out(4, '\0');
    for (int i = 0; i < 4; ++i)
        out[i] = static_cast<char>((word >> (8 * i)) & 0xFF);
    return out;
}

// A little-endian word.
inline std::optional<quint32> read_le32(const QByteArray& image, int offset) {
    if (!in_range(image, offset, 4))
        return std::nullopt;
    quint32 word = 0;
    for (int i = 3; i >= 0; --i)
        word = (word << 8) | static_cast<quint8>(image.at(offset + i));
    return word;
}

// Product bytes in storage order: type code first.
inline std::optional<ProductInfoRaw> read_product_raw(const QByteArray& image, int offset) {
    if (!in_range(image, offset, 4))
        return std::nullopt;
    ProductInfoRaw raw;
    raw.type_code = static_cast<quint8>(image.at(offset));
    raw.byte1 = static_cast<quint8>(image.at(offset + 1));
    raw.byte2 = static_cast<quint8>(image.at(offset + 2));
    raw.byte3 = static_cast<quint8>(image.at(offset + 3));
    return raw;
}

} // namespace bytes
} // namespace Device
