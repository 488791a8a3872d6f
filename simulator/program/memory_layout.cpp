#include "simulator/program/memory_layout.h"

#include <QRegularExpression>
#include <QStringList>

namespace simulator {

QString alt_name(int alt) {
    using namespace Device::memory_map;
    // In the order of their alternate settings; the OTP area's one page is the whole area.
    static const QString names[alt_count] = {
        "@Internal Flash  /" + address_text(flash_base) + "/04*016Kg,01*064Kg,07*128Kg",
        "@Option Bytes  /" + address_text(option_bytes_address) + "/01*016 e",
        QStringLiteral("@OTP Memory /%1/01*%2 e,01*016 e")
            .arg(address_text(otp_address))
            .arg(otp_length, 3, 10, QLatin1Char('0')),
        QStringLiteral("@Device Feature/0xFFFF0000/01*004 e")};
    return alt >= 0 && alt < alt_count ? names[alt] : QString();
}

qint64 memory_base(int alt) {
    return alt_name(alt).section('/', 1, 1).toLongLong(nullptr, 16);
}

Layout memory_layout(int alt) {
    static const QRegularExpression group(QStringLiteral("^(\\d+)\\*(\\d+)\\s*([KM]?)\\s*([a-g])"));
    Layout layout;
    qint64 address = memory_base(alt);
    for (const QString& text : alt_name(alt).section('/', 2).split(',')) {
        const QRegularExpressionMatch m = group.match(text.trimmed());
        if (!m.hasMatch())
            continue;
        const qint64 unit = m.captured(3) == "K" ? 1024 : m.captured(3) == "M" ? 1024 * 1024 : 1;
        const Segment s{
            address, address + m.captured(1).toLongLong() * m.captured(2).toLongLong() * unit,
            m.captured(2).toLongLong() * unit, m.captured(4).at(0).toLatin1() - 'a' + 1};
        layout.push_back(s);
        address = s.end;
    }
    return layout;
}

const Segment* find_segment(const Layout& layout, qint64 address, int type_bits) {
    for (const Segment& s : layout)
        if (address >= s.start && address < s.end)
            return (s.type & type_bits) == type_bits ? &s : nullptr;
    return nullptr;
}

QByteArray program_flash(const QByteArray& old, const QByteArray& data, qint64 offset,
                         qint64 erased_from, qint64 erased_to) {
    const auto erased = [](qint64 n) {
        return QByteArray(static_cast<int>(qMax<qint64>(0, n)), '\xFF');
    };
    QByteArray image = old.left(static_cast<int>(erased_from));
    image += erased(offset - image.size()) + data;
    if (old.size() > erased_to)
        image += erased(erased_to - image.size()) + old.mid(static_cast<int>(erased_to));
    return image;
}

} // namespace simulator
