#pragma once
// The memories of a unit in the STM32F4 ROM bootloader: its four alternate settings, the DfuSe
// memory layout their names describe, and flash programming page by page.

#include "device/memory_map.h"

#include <QByteArray>
#include <QString>

#include <vector>

namespace simulator {

constexpr int alt_count = 4;
constexpr int flash_alt = Device::memory_map::flash_alt;
constexpr int otp_alt = Device::memory_map::otp_alt;
constexpr qint64 flash_base = Device::memory_map::flash_base;
constexpr int transfer_size = 2048; // what the bootloader reports

// As the bootloader names them, "@name/address/count*size<unit><type>,..."; empty for none.
QString alt_name(int alt);
qint64 memory_base(int alt);

// A group of equal pages; type a to g: bit 0 readable, bit 1 erasable, bit 2 writeable.
struct Segment {
    qint64 start = 0;
    qint64 end = 0; // one past its last byte
    qint64 page = 1;
    int type = 0;
    qint64 page_end(qint64 address) const { return start + ((address - start) / page + 1) * page; }
};
using Layout = std::vector<Segment>;

Layout memory_layout(int alt);
// The segment holding the address with all the type bits asked for, or null.
const Segment* find_segment(const Layout& layout, qint64 address, int type_bits);

// The flash image (from its base) after the pages from `erased_from` to `erased_to` were erased
// and `data` written at `offset`. Bytes beyond the old image are kept only up to where it ended.
QByteArray program_flash(const QByteArray& old, const QByteArray& data, qint64 offset,
                         qint64 erased_from, qint64 erased_to);

} // namespace simulator
