#pragma once
// What a virtual unit and its hubs tell about themselves over USB: the descriptors of the STM32F4
// ROM bootloader (0483:df11, release 2200, one DFU interface with four alternate settings named
// after their memories, DfuSe's functional descriptor) and of a root hub and an external hub, and
// the sysfs record of each as umockdev adds it (the attributes and udev properties that libusb
// enumerates).

#include <QByteArray>
#include <QString>

namespace virtual_unit {

// What the bootloader's functional descriptor announces: the length of every UPLOAD and DNLOAD.
constexpr int transfer_size = 2048;
constexpr int alt_settings = 4;

QByteArray bootloader_device_descriptor();
// The configuration with its interfaces and the functional descriptor, as one block.
QByteArray bootloader_configuration();
// String descriptor `index` of a bootloader with this serial (0: the language list); null for
// an index it has not.
QByteArray bootloader_string(int index, const QString& serial);

// The device, configuration and hub descriptors of a hub; the root hub is 1d6b:0002.
QByteArray hub_descriptors(bool root);

// One device's record for umockdev_testbed_add_from_string(): its sysfs path ("/devices/usb1",
// "/devices/usb1/1-1", ...), its node /dev/bus/usb/001/NNN, and its descriptors.
QByteArray sysfs_record(const QString& sysfs_path, int devnum, const QByteArray& descriptors);

} // namespace virtual_unit
