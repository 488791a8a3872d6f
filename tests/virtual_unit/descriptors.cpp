#include "descriptors.h"

#include "dfu_protocol.h"

#include "simulator/program/memory_layout.h"

namespace virtual_unit {

namespace {

QByteArray bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (const int v : values)
        out.append(static_cast<char>(v));
    return out;
}

// A descriptor's first byte is its length; a configuration's bytes 2 and 3 its total length.
QByteArray with_total_length(QByteArray configuration) {
    configuration[2] = static_cast<char>(configuration.size() & 0xFF);
    configuration[3] = static_cast<char>(configuration.size() >> 8);
    return configuration;
}

QByteArray string_descriptor(const QString& text) {
    QByteArray d = bytes({0, usb::descriptor_string});
    for (const QChar c : text)
        d += bytes({c.unicode() & 0xFF, c.unicode() >> 8});
    d[0] = static_cast<char>(d.size());
    return d;
}

} // namespace

QByteArray bootloader_device_descriptor() {
    // USB 2.0, class per interface, 64-byte endpoint 0, 0483:df11 release 2200, strings 1 to 3.
    return bytes({18, 1, 0x00, 0x02, 0, 0, 0, 64, 0x83, 0x04, 0x11, 0xdf, 0x00, 0x22, 1, 2, 3, 1});
}

QByteArray bootloader_configuration() {
    QByteArray c = bytes({9, 2, 0, 0, 1, 1, 0, 0xC0, 0x32}); // one interface, self-powered
    // Interface 0, application-specific class FE, DFU subclass 01, DFU mode protocol 02; its
    // name is string 4 + alt.
    for (int alt = 0; alt < alt_settings; ++alt)
        c += bytes({9, 4, 0, alt, 0, 0xFE, 0x01, 0x02, 4 + alt});
    // Functional descriptor: can download and upload, will detach; detach time-out 255 ms;
    // transfer size; DfuSe's DFU version 1.1a.
    c += bytes({9, 0x21, 0x0B, 0xFF, 0x00, transfer_size & 0xFF, transfer_size >> 8, 0x1A, 0x01});
    return with_total_length(c);
}

QByteArray bootloader_string(int index, const QString& serial) {
    switch (index) {
    case 0:
        return bytes({4, usb::descriptor_string, 0x09, 0x04}); // English (United States)
    case 1:
        return string_descriptor(QStringLiteral("STMicroelectronics"));
    case 2:
        return string_descriptor(QStringLiteral("STM32  BOOTLOADER"));
    case 3:
        return string_descriptor(serial);
    default:
        if (index >= 4 && index < 4 + alt_settings)
            return string_descriptor(simulator::alt_name(index - 4));
        return QByteArray();
    }
}

QByteArray hub_descriptors(bool root) {
    const QByteArray device = root ? bytes({18, 1, 0x00, 0x02, 9, 0, 1, 64, 0x6b, 0x1d, 0x02, 0x00,
                                            0x01, 0x06, 3, 2, 1, 1})
                                   : bytes({18, 1, 0x00, 0x02, 9, 0, 1, 64, 0xe3, 0x05, 0x08, 0x06,
                                            0x60, 0x85, 0, 1, 0, 1});
    // One hub interface with its status-change endpoint.
    const QByteArray configuration = with_total_length(
        bytes({9, 2, 0, 0, 1, 1, 0, 0xE0, 0, 9, 4, 0, 0, 1, 9, 0, 0, 0, 7, 5, 0x81, 3, 4, 0, 12}));
    return device + configuration;
}

QByteArray sysfs_record(const QString& sysfs_path, int devnum, const QByteArray& descriptors) {
    const QString node = QStringLiteral("bus/usb/001/%1").arg(devnum, 3, 10, QLatin1Char('0'));
    return QStringLiteral("P: %1\nN: %2\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
                          "E: DEVNAME=/dev/%2\nE: BUSNUM=001\nE: DEVNUM=%3\n"
                          "A: busnum=1\\n\nA: devnum=%4\\n\nA: bConfigurationValue=1\\n\n"
                          "A: speed=12\\n\nH: descriptors=%5\n\n")
        .arg(sysfs_path, node)
        .arg(devnum, 3, 10, QLatin1Char('0'))
        .arg(devnum)
        .arg(QString::fromLatin1(descriptors.toHex()))
        .toUtf8();
}

} // namespace virtual_unit
