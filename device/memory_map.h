#pragma once
// Where a unit's memories lie, as its STM32F4 ROM bootloader offers them to dfu-util: the flash
// that holds the firmware, with the firmware information block at its start, and the OTP area
// that holds the product record; and the RAM the firmware's stack lies in. Every address and
// length of the program, its simulator and its build tools comes from here.

#include <QString>
#include <QtGlobal>

namespace Device {
namespace memory_map {

// The flash, alternate setting 0: 4 pages of 16 KiB, 1 of 64 KiB, 7 of 128 KiB.
constexpr int flash_alt = 0;
constexpr quint32 flash_base = 0x08000000;
constexpr qint64 flash_size = 1024 * 1024;

// The part of the flash read to find the firmware information block: its first 2048 bytes.
constexpr quint32 fw_info_address = flash_base;
constexpr int fw_info_length = 2048;

// The option bytes, alternate setting 1 (listed by the bootloader, never read or written).
constexpr int option_bytes_alt = 1;
constexpr quint32 option_bytes_address = 0x1FFFC000;

// The one-time-programmable area, alternate setting 2.
constexpr int otp_alt = 2;
constexpr quint32 otp_address = 0x1FFF7800;
constexpr int otp_length = 512;

// The RAM a firmware's initial stack pointer may name: the SRAM and the core-coupled memory, each
// from its base up to and including its top, as a stack starts at the top and grows down.
constexpr quint32 sram_base = 0x20000000;
constexpr quint32 sram_size = 128 * 1024;
constexpr quint32 ccm_base = 0x10000000;
constexpr quint32 ccm_size = 64 * 1024;

// An address as the bootloader names it and dfu-util takes it: "0x" and eight upper-case hex
// digits.
inline QString address_text(quint32 address) {
    return QString::asprintf("0x%08X", address);
}

// A region as dfu-util's -s option takes it: the address, ":" and the length in decimal.
inline QString region_text(quint32 address, qint64 length) {
    return address_text(address) + QLatin1Char(':') + QString::number(length);
}

} // namespace memory_map
} // namespace Device
