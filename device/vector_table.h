#pragma once
// The start of a firmware image: the Cortex-M vector table, whose first two words the core reads
// when it leaves reset. Layout, little-endian words:
//   0  4  initial stack pointer: the top of the stack, which grows down
//   4  4  reset address: the first instruction, with bit 0 set (Thumb code)
//   8  4  each further word: the address of an exception or interrupt handler, also Thumb

#include "device/bytes.h"

#include <QByteArray>
#include <QtGlobal>

#include <optional>

namespace Device {
namespace vector_table {

constexpr int stack_pointer_offset = 0;
constexpr int reset_address_offset = 4;
constexpr int boot_words_size = 8; // what the core reads at reset
constexpr quint32 thumb_bit = 1;

// The two words the core boots from.
struct BootWords {
    quint32 stack_pointer = 0;
    quint32 reset_address = 0;
};

// Nothing when the image is shorter than the two words.
inline std::optional<BootWords> read_boot_words(const QByteArray& image) {
    const std::optional<quint32> stack_pointer = bytes::read_le32(image, stack_pointer_offset);
    const std::optional<quint32> reset_address = bytes::read_le32(image, reset_address_offset);
    if (!stack_pointer || !reset_address)
        return std::nullopt;
    return BootWords{*stack_pointer, *reset_address};
}

} // namespace vector_table
} // namespace Device
