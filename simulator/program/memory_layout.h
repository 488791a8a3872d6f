#pragma once
// The memories of a unit in the STM32F4 ROM bootloader: its four alternate settings, the DfuSe
// memory layout their names describe, and flash programming page by page.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <vector>

namespace simulator {

constexpr int alt_count = 4;
constexpr int flash_alt = 0;
constexpr int option_bytes_alt = 1;
constexpr int otp_alt = 2;
constexpr quint32 flash_base = 0x08000000;
constexpr int transfer_size = 2048; // what the bootloader reports

// The name of an alternate setting as the bootloader gives it; empty for none.
QString alt_name(int alt);
// The name without its "@" and memory layout: "Internal Flash  ".
QString interface_name(int alt);
// The address at which the memory image of an alternate setting starts.
qint64 memory_base(int alt);

// One group of equal pages of "@name/address/count*size<unit><type>,...": types a to g, bit 0
// readable, bit 1 erasable, bit 2 writeable.
struct Segment {
    qint64 start = 0;
    qint64 end = 0; // one past the last byte
    qint64 page = 0;
    int type = 0;

    bool readable() const { return (type & 1) != 0; }
    bool writeable() const { return (type & 4) != 0; }
    qint64 page_start(qint64 address) const { return start + (address - start) / page * page; }
    qint64 page_end(qint64 address) const { return page_start(address) + page; }
};
using Layout = std::vector<Segment>;

Layout memory_layout(int alt);
// The segment holding the address, or null.
const Segment* find_segment(const Layout& layout, qint64 address);

// The flash image after `data` was written at `offset` from the flash's start, the pages from
// `erased_from` to `erased_to` (offsets too) having been erased first. Bytes beyond the old
// image read erased and are kept only up to where it ended.
QByteArray program_flash(const QByteArray& old, const QByteArray& data, qint64 offset,
                         qint64 erased_from, qint64 erased_to);

} // namespace simulator
