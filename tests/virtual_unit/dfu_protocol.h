#pragma once
// The words of the wire between dfu-util and an STM32 ROM bootloader: USB's standard requests,
// the DFU 1.1 class requests, states and status codes, and ST's DfuSe commands (AN3156), which
// travel in DNLOAD block 0. One place for the numbers the virtual unit speaks.

#include <QtGlobal>

namespace virtual_unit {

// A control transfer's setup packet.
struct Setup {
    quint8 request_type = 0; // bit 7: device to host
    quint8 request = 0;
    quint16 value = 0;
    quint16 index = 0;
    quint16 length = 0;
    bool in() const { return (request_type & 0x80) != 0; }
    bool is_class() const { return (request_type & 0x60) == 0x20; }
};

namespace usb {
constexpr quint8 get_descriptor = 6;
constexpr quint8 descriptor_device = 1;
constexpr quint8 descriptor_configuration = 2;
constexpr quint8 descriptor_string = 3;
} // namespace usb

enum class Request : quint8 {
    detach = 0,
    dnload = 1,
    upload = 2,
    getstatus = 3,
    clrstatus = 4,
    getstate = 5,
    abort = 6,
};

enum class State : quint8 {
    app_idle = 0,
    app_detach = 1,
    dfu_idle = 2,
    dnload_sync = 3,
    dnbusy = 4,
    dnload_idle = 5,
    manifest_sync = 6,
    manifest = 7,
    manifest_wait_reset = 8,
    upload_idle = 9,
    error = 10,
};

enum class Status : quint8 {
    ok = 0x00,
    err_target = 0x01,
    err_erase = 0x04,
    err_prog = 0x06,
    err_address = 0x08,
    err_stalled_packet = 0x0F,
};

// DfuSe: DNLOAD block 0 carries a command, UPLOAD block 0 lists them; data blocks start at 2,
// at the address pointer plus (block - 2) times the transfer's length.
namespace dfuse {
constexpr quint8 get_commands = 0x00;
constexpr quint8 set_address = 0x21;
constexpr quint8 erase = 0x41; // with an address: its page; alone: mass erase
constexpr quint8 read_unprotect = 0x92;
constexpr quint16 command_block = 0;
constexpr quint16 first_data_block = 2;
} // namespace dfuse

// GETSTATUS answers six bytes: status, poll timeout (24 bits, little-endian), state, string.
constexpr int status_length = 6;

} // namespace virtual_unit
