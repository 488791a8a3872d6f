#include "device/record_writers.h"

#include "device/bytes.h"

namespace Device {

namespace {

QByteArray product_bytes(ProductInfoRaw p) {
    QByteArray b(4, '\0');
    b[0] = static_cast<char>(p.type_code);
    b[1] = static_cast<char>(p.byte1);
    b[2] = static_cast<char>(p.byte2);
    b[3] = static_cast<char>(p.byte3);
    return b;
}

// At most 31 bytes of UTF-8, then NUL padding: every field holds its terminating NUL.
QByteArray text_field(const QString& text) {
    QByteArray field = text.toUtf8().left(fw_layout::text_field_size - 1);
    field.append(QByteArray(fw_layout::text_field_size - field.size(), '\0'));
    return field;
}

} // namespace

QByteArray make_FW_Info_block(ProductInfoRaw product, const QString& name, const QString& revision,
                              const FW_Details& details) {
    using namespace fw_layout;
    static_assert(product_offset == 4 && name_offset == product_offset + 4 &&
                      revision_offset == name_offset + text_field_size &&
                      pairs_offset == revision_offset + text_field_size,
                  "the block is written field after field");
    QByteArray block = bytes::le32_bytes(begin_marker) + product_bytes(product) + text_field(name) +
                       text_field(revision);
    for (const auto& [pair_name, pair_value] : details)
        block += text_field(pair_name) + text_field(pair_value);
    return block + bytes::le32_bytes(end_marker);
}

QByteArray make_OTP_record(ProductInfoRaw product,
                           const std::array<quint8, otp_layout::tail_size>& tail) {
    using namespace otp_layout;
    static_assert(product_offset == 4 && tail_offset == product_offset + 4 &&
                      tail_offset + tail_size == slot_size,
                  "the record is written field after field");
    QByteArray record = bytes::le32_bytes(marker) + product_bytes(product);
    for (const quint8 b : tail)
        record.append(static_cast<char>(b));
    return record;
}

} // namespace Device
