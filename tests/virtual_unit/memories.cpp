#include "memories.h"

namespace virtual_unit {

namespace {

using simulator::Segment;

constexpr int readable = 1;
constexpr int erasable = 2;
constexpr int writeable = 4;
constexpr int otp_block_size = 16;

qint64 size_of(int alt) {
    const simulator::Layout layout = simulator::memory_layout(alt);
    return layout.empty() ? 0 : layout.back().end - layout.front().start;
}

bool valid_alt(int alt) {
    return alt >= 0 && alt < simulator::alt_count;
}

} // namespace

Memories::Memories() {
    for (int alt = 0; alt < simulator::alt_count; ++alt)
        images_[alt] = QByteArray(static_cast<int>(size_of(alt)), '\xFF');
}

QByteArray Memories::image(int alt) const {
    return valid_alt(alt) ? images_[alt] : QByteArray();
}

void Memories::set_image(int alt, const QByteArray& bytes) {
    if (!valid_alt(alt))
        return;
    QByteArray& image = images_[alt];
    image.fill('\xFF');
    image.replace(0, qMin(bytes.size(), image.size()), bytes.left(image.size()));
}

bool Memories::contains(int alt, qint64 address) const {
    return valid_alt(alt) &&
           simulator::find_segment(simulator::memory_layout(alt), address, 0) != nullptr;
}

QByteArray Memories::read(int alt, qint64 address, qint64 length) const {
    if (!valid_alt(alt) ||
        !simulator::find_segment(simulator::memory_layout(alt), address, readable))
        return QByteArray();
    const qint64 offset = address - simulator::memory_base(alt);
    return images_[alt].mid(static_cast<int>(offset), static_cast<int>(length));
}

bool Memories::erase_page(int alt, qint64 address) {
    const simulator::Layout layout = simulator::memory_layout(alt);
    const Segment* segment =
        valid_alt(alt) ? simulator::find_segment(layout, address, erasable) : nullptr;
    if (segment == nullptr)
        return false;
    const qint64 end = segment->page_end(address);
    const qint64 base = simulator::memory_base(alt);
    images_[alt].replace(static_cast<int>(end - segment->page - base),
                         static_cast<int>(segment->page),
                         QByteArray(static_cast<int>(segment->page), '\xFF'));
    return true;
}

bool Memories::mass_erase(int alt) {
    if (alt != simulator::flash_alt)
        return false;
    images_[alt].fill('\xFF');
    return true;
}

Status Memories::program(int alt, qint64 address, const QByteArray& data, int* over_unerased) {
    const simulator::Layout layout =
        valid_alt(alt) ? simulator::memory_layout(alt) : simulator::Layout();
    if (data.isEmpty() || !simulator::find_segment(layout, address, writeable) ||
        !simulator::find_segment(layout, address + data.size() - 1, writeable))
        return Status::err_address;
    for (qint64 a = address; a < address + data.size(); a += otp_block_size)
        if (alt == simulator::otp_alt && otp_block_locked(a))
            return Status::err_prog;
    QByteArray& image = images_[alt];
    const int offset = static_cast<int>(address - simulator::memory_base(alt));
    char* cells = image.data() + offset;
    for (int i = 0; i < data.size(); ++i) {
        if (cells[i] != '\xFF')
            ++*over_unerased;
        cells[i] = static_cast<char>(cells[i] & data[i]);
    }
    return Status::ok;
}

// The lock block follows the OTP area's 32 blocks of 16 bytes: byte i locks block i.
bool Memories::otp_block_locked(qint64 address) const {
    const qint64 otp_area = Device::memory_map::otp_length;
    const qint64 offset = address - simulator::memory_base(simulator::otp_alt);
    if (offset < 0 || offset >= otp_area)
        return false;
    return images_[simulator::otp_alt].at(static_cast<int>(otp_area + offset / otp_block_size)) ==
           '\0';
}

} // namespace virtual_unit
