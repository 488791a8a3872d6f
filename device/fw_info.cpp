#include "device/fw_info.h"

#include "device/bytes.h"
#include "device/text_form.h"

#include <algorithm>
#include <cstring>

namespace Device {

using namespace fw_layout;

int local_strlen(const char* p) {
    if (p == nullptr)
        return -1;
    const void* nul = std::memchr(p, '\0', text_field_size);
    return nul == nullptr ? -1 : static_cast<int>(static_cast<const char*>(nul) - p);
}

QString get_string(const QByteArray& image, int offset) {
    if (offset < 0 || offset >= image.size())
        return QString();
    // Copied into a NUL-filled field, so a field cut short by the end of the image ends there
    // and local_strlen never reads beyond the image.
    char field[text_field_size] = {};
    const int available = std::min(text_field_size, image.size() - offset);
    std::memcpy(field, image.constData() + offset, static_cast<std::size_t>(available));
    const int length = local_strlen(field);
    return length < 0 ? QString() : QString::fromUtf8(field, length);
}

FW_Info make_FW_Info(const QByteArray& image) {
    FW_Info info;
    static const QByteArray begin_bytes = bytes::le32_bytes(begin_marker);
    static const QByteArray end_bytes = bytes::le32_bytes(end_marker);
    const int begin = image.indexOf(begin_bytes);
    // From the start of the image, not from `begin`: an earlier end marker is the end.
    const int end = image.indexOf(end_bytes);
    if (begin < 0 || end < 0) {
        qDebug() << "index_beg = " << begin << "index_end = " << end;
        return info;
    }
    if (begin > max_marker_offset || end > max_marker_offset)
        return info;
    const int pair_bytes = end - begin - pairs_offset;
    if (pair_bytes < 0 || pair_bytes % pair_size != 0) {
        qDebug() << "index_beg = " << begin << "index_end = " << end
                 << "nr_of_pair_bytes =" << pair_bytes;
        return info;
    }

    // Everything read below lies between the two markers, hence inside the image.
    const auto raw = bytes::read_product_raw(image, begin + product_offset);
    if (!raw)
        return info;
    info.product = make_ProductInfo(*raw);
    info.name = get_string(image, begin + name_offset);
    info.revision = get_string(image, begin + revision_offset);
    for (int i = 0; i < pair_bytes / pair_size; ++i) {
        const int slot = begin + pairs_offset + pair_size * i;
        QString name = get_string(image, slot);
        QString value = get_string(image, slot + text_field_size);
        // An empty slot ends the list; what follows is unused space.
        if (name.isEmpty() || value.isEmpty())
            break;
        info.details.emplace_back(std::move(name), std::move(value));
    }
    info.valid = true;
    return info;
}

FW_Info make_FW_Info(const QString& path) {
    return make_from_file<FW_Info>(path, make_FW_Info);
}

FW_Info::operator QString() const {
    QString text = QStringLiteral("FW info:\n");
    if (!valid)
        return text + QStringLiteral("\tInvalid");
    text += QStringLiteral("  Type: %1\n").arg(QString(product));
    text += QStringLiteral("  Name: ") + name + QLatin1Char('\n');
    text += QStringLiteral("  Rev.: ") + revision + QLatin1Char('\n');
    text += QStringLiteral("  Details:");
    for (const auto& [pair_name, pair_value] : details) {
        text += QStringLiteral("\n    ") + pair_name.leftJustified(detail_column_width) +
                QStringLiteral(": ") + pair_value.leftJustified(detail_column_width);
    }
    return text;
}

QDebug operator<<(QDebug dbg, const FW_Info& info) {
    return write_text_form(dbg, QString(info));
}

QString development_key_id() {
    return QStringLiteral("development, unsigned");
}

QString signer(const QString& key_id) {
    return key_id == development_key_id() ? key_id : QStringLiteral("signed by key ") + key_id;
}

QString identity(const FW_Info& info, const QString& sha256, const QString& key_id) {
    return QStringLiteral("%1 revision %2 for the %3 (%4), SHA-256 %5, %6")
        .arg(info.name, info.revision, info.product.product_name(), to_QString(info.product.type),
             sha256, signer(key_id));
}

} // namespace Device
