#include "device/otp_info.h"

#include "device/bytes.h"
#include "device/text_form.h"

namespace Device {

using namespace otp_layout;

OTP_Info make_OTP_Info(const QByteArray& image) {
    OTP_Info info;
    static const QByteArray marker_bytes = bytes::le32_bytes(marker);
    const int at = image.lastIndexOf(marker_bytes);
    // No fall-back to an earlier marker: a later one that is out of place spoils the area.
    if (at < 0 || at % slot_size != 0 || at > last_slot_offset)
        return info;
    // Only a short image can end inside the last record: without its bytes there is no record.
    if (!bytes::in_range(image, at, slot_size))
        return info;

    // The marker itself is what lastIndexOf found; the rest of the slot is in range.
    info.product = make_ProductInfo(*bytes::read_product_raw(image, at + product_offset));
    for (int i = 0; i < tail_size; ++i)
        info.tail[static_cast<std::size_t>(i)] = static_cast<quint8>(image.at(at + tail_offset + i));

    if (is_valid(info.product.type)) {
        if (is_known(info.product.type)) {
            info.valid = true;
            return info;
        }
        qInfo() << "Unknown device type according to OTP info, " << QString(info.product);
        info.product.type = invalid;
        return info;
    }
    qInfo() << "Device not used, has invalid info in its OTP info.";
    return info;
}

OTP_Info make_OTP_Info(const QString& path) {
    return make_from_file<OTP_Info>(path, make_OTP_Info);
}

OTP_Info::operator QString() const {
    return QStringLiteral("OTP info:\nMarker %1\nProduct: %2\n")
        .arg(valid ? QStringLiteral("valid") : QStringLiteral("invalid"), QString(product));
}

QDebug operator<<(QDebug dbg, const OTP_Info& info) {
    return write_text_form(dbg, QString(info));
}

} // namespace Device
