#pragma once
// The memories behind the bootloader's four alternate settings, laid out as their names describe
// them (simulator/program/memory_layout.h: the flash's sectors, the option bytes, the OTP area
// with its lock block, the device feature), each a flat image from its base address. Its cells
// behave as the STM32F4's: they read 0xFF when erased, programming only clears bits (a byte
// written over one not erased reads back as the AND of both), an erase sets a whole page, and an
// OTP block whose lock byte is 0x00 takes no more writes.

#include "dfu_protocol.h"
#include "simulator/program/memory_layout.h"

#include <QByteArray>

#include <array>

namespace virtual_unit {

class Memories {
public:
    Memories();

    // From the memory's base, all of it.
    QByteArray image(int alt) const;
    // From the memory's base; what `bytes` does not reach reads erased.
    void set_image(int alt, const QByteArray& bytes);

    bool contains(int alt, qint64 address) const;
    // Up to `length` bytes from `address`, fewer at the memory's end; null outside it.
    QByteArray read(int alt, qint64 address, qint64 length) const;
    // The page that holds `address`; false where the layout allows no erase.
    bool erase_page(int alt, qint64 address);
    bool mass_erase(int alt);
    // Status::ok, err_address outside a writeable part, err_prog into a locked OTP block.
    // `over_unerased` counts the bytes written over bytes that were not erased.
    Status program(int alt, qint64 address, const QByteArray& data, int* over_unerased);

private:
    bool otp_block_locked(qint64 address) const;

    std::array<QByteArray, simulator::alt_count> images_;
};

} // namespace virtual_unit
