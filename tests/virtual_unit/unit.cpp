#include "unit.h"

#include "descriptors.h"

namespace virtual_unit {

using Lock = std::lock_guard<std::mutex>;

void Unit::set_memory(int alt, const QByteArray& bytes) {
    Lock lock(mutex_);
    bootloader_.memories.set_image(alt, bytes);
}

QByteArray Unit::memory(int alt) const {
    Lock lock(mutex_);
    return bootloader_.memories.image(alt); // a copy, taken under the lock
}

void Unit::set_faults(const Faults& faults) {
    Lock lock(mutex_);
    bootloader_.faults = faults;
}

void Unit::set_timing(const Timing& timing) {
    Lock lock(mutex_);
    bootloader_.timing = timing;
}

Tally Unit::tally() const {
    Lock lock(mutex_);
    return bootloader_.tally;
}

State Unit::state() const {
    Lock lock(mutex_);
    return bootloader_.state();
}

bool Unit::left() const {
    Lock lock(mutex_);
    return bootloader_.left();
}

void Unit::power_up() {
    Lock lock(mutex_);
    bootloader_.power_up();
}

Reply Unit::control(const Setup& setup, const QByteArray& out) {
    Lock lock(mutex_);
    if (bootloader_.gone())
        return {Reply::Kind::gone, {}};
    if (setup.is_class())
        return bootloader_.request(setup, out);
    return standard_request(setup);
}

void Unit::select_alt(int alt) {
    Lock lock(mutex_);
    bootloader_.select_alt(alt);
}

void Unit::usb_reset() {
    Lock lock(mutex_);
    bootloader_.usb_reset();
}

bool Unit::claimed_elsewhere() const {
    Lock lock(mutex_);
    return bootloader_.faults.claimed_elsewhere;
}

bool Unit::gone() const {
    Lock lock(mutex_);
    return bootloader_.gone();
}

// GET_DESCRIPTOR is the one standard request dfu-util sends through endpoint 0; libusb takes
// the device and configuration descriptors from sysfs, but may ask the unit too.
Reply Unit::standard_request(const Setup& setup) const {
    if (setup.request != usb::get_descriptor || !setup.in())
        return {Reply::Kind::stalled, {}};
    const int type = setup.value >> 8;
    QByteArray data;
    if (type == usb::descriptor_device)
        data = bootloader_device_descriptor();
    else if (type == usb::descriptor_configuration)
        data = bootloader_configuration();
    else if (type == usb::descriptor_string)
        data = bootloader_string(setup.value & 0xFF, serial_);
    if (data.isNull())
        return {Reply::Kind::stalled, {}};
    return {Reply::Kind::answered, data.left(setup.length)};
}

} // namespace virtual_unit
