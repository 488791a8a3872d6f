#include "simulator/program/memory_layout.h"

#include <QRegularExpression>
#include <QStringList>

namespace simulator {

QString alt_name(int alt) {
    switch (alt) {
    case 0: return QStringLiteral("@Internal Flash  /0x08000000/04*016Kg,01*064Kg,07*128Kg");
    case 1: return QStringLiteral("@Option Bytes  /0x1FFFC000/01*016 e");
    case 2: return QStringLiteral("@OTP Memory /0x1FFF7800/01*512 e,01*016 e");
    case 3: return QStringLiteral("@Device Feature/0xFFFF0000/01*004 e");
    default: return QString();
    }
}

QString interface_name(int alt) {
    return alt_name(alt).mid(1).section(QLatin1Char('/'), 0, 0);
}

qint64 memory_base(int alt) {
    return alt_name(alt).section(QLatin1Char('/'), 1, 1).toLongLong(nullptr, 16);
}

Layout memory_layout(int alt) {
    static const QRegularExpression group(QStringLiteral("^(\\d+)\\*(\\d+)\\s*([KM]?)\\s*([a-g])"));
    Layout layout;
    qint64 address = memory_base(alt);
    for (const QString& text : alt_name(alt).section(QLatin1Char('/'), 2).split(QLatin1Char(','))) {
        const QRegularExpressionMatch m = group.match(text.trimmed());
        if (!m.hasMatch())
            continue;
        Segment s;
        s.start = address;
        s.page = m.captured(2).toLongLong() * (m.captured(3) == "K"   ? 1024
                                               : m.captured(3) == "M" ? 1024 * 1024
                                                                      : 1);
        s.type = m.captured(4).at(0).toLatin1() - 'a' + 1;
        address += m.captured(1).toLongLong() * s.page;
        s.end = address;
        layout.push_back(s);
    }
    return layout;
}

const Segment* find_segment(const Layout& layout, qint64 address) {
    for (const Segment& s : layout)
        if (address >= s.start && address < s.end)
            return &s;
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
