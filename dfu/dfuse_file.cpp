#include "dfu/dfuse_file.h"

namespace DFU {
namespace DfuSe {

namespace {

void put_u8(QByteArray& out, quint8 v) { out.append(static_cast<char>(v)); }
void put_u16(QByteArray& out, quint16 v) {
    put_u8(out, static_cast<quint8>(v & 0xFF));
    put_u8(out, static_cast<quint8>(v >> 8));
}
void put_u32(QByteArray& out, quint32 v) {
    put_u16(out, static_cast<quint16>(v & 0xFFFF));
    put_u16(out, static_cast<quint16>(v >> 16));
}

// Reads little-endian fields with a bounds check before every read.
class Reader {
public:
    explicit Reader(const QByteArray& bytes, int end) : bytes_(bytes), end_(end) {}
    bool has(qint64 n) const { return n >= 0 && pos_ + n <= end_; }
    int pos() const { return pos_; }
    quint8 u8() { return static_cast<quint8>(bytes_[pos_++]); }
    quint16 u16() {
        const quint16 lo = u8();
        return static_cast<quint16>(lo | (u8() << 8));
    }
    quint32 u32() {
        const quint32 lo = u16();
        return lo | (static_cast<quint32>(u16()) << 16);
    }
    QByteArray take(int n) {
        QByteArray part = bytes_.mid(pos_, n);
        pos_ += n;
        return part;
    }

private:
    const QByteArray& bytes_;
    int end_;
    int pos_ = 0;
};

File reject(File f, const QString& why) {
    f.valid = false;
    f.error = why;
    f.targets.clear();
    return f;
}

} // namespace

quint32 suffix_crc(const QByteArray& bytes) {
    quint32 crc = 0xFFFFFFFFu;
    for (const char c : bytes) {
        crc ^= static_cast<quint8>(c);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
}

QByteArray make_file(const std::vector<Target>& targets, quint16 vendor, quint16 product,
                     quint16 device) {
    QByteArray body;
    for (const Target& t : targets) {
        QByteArray elements;
        for (const Element& e : t.elements) {
            put_u32(elements, e.address);
            put_u32(elements, static_cast<quint32>(e.data.size()));
            elements.append(e.data);
        }
        body.append("Target", 6);
        put_u8(body, t.alternate_setting);
        put_u32(body, t.name.isEmpty() ? 0u : 1u);
        QByteArray name = t.name.toUtf8().left(target_name_size - 1);
        name.append(QByteArray(target_name_size - name.size(), '\0'));
        body.append(name);
        put_u32(body, static_cast<quint32>(elements.size()));
        put_u32(body, static_cast<quint32>(t.elements.size()));
        body.append(elements);
    }
    QByteArray file("DfuSe", 5);
    put_u8(file, 1);
    put_u32(file, static_cast<quint32>(prefix_size + body.size()));
    put_u8(file, static_cast<quint8>(targets.size()));
    file.append(body);
    put_u16(file, device);
    put_u16(file, product);
    put_u16(file, vendor);
    put_u16(file, dfuse_bcd_dfu);
    file.append("UFD", 3);
    put_u8(file, suffix_size);
    put_u32(file, suffix_crc(file));
    return file;
}

File parse(const QByteArray& bytes) {
    File f;
    if (bytes.size() < prefix_size + suffix_size)
        return reject(f, QStringLiteral("file too short (%1 bytes)").arg(bytes.size()));

    const int body_end = bytes.size() - suffix_size;
    Reader suffix(bytes, bytes.size());
    suffix.take(body_end);
    f.device = suffix.u16();
    f.product = suffix.u16();
    f.vendor = suffix.u16();
    f.dfu_version = suffix.u16();
    const QByteArray signature = suffix.take(3);
    const quint8 suffix_length = suffix.u8();
    f.crc = suffix.u32();
    if (signature != QByteArray("UFD", 3) || suffix_length != suffix_size)
        return reject(f, QStringLiteral("no DFU suffix"));
    if (f.crc != suffix_crc(bytes.left(bytes.size() - 4)))
        return reject(f, QStringLiteral("suffix CRC does not match"));

    Reader r(bytes, body_end);
    if (r.take(5) != QByteArray("DfuSe", 5))
        return reject(f, QStringLiteral("no DfuSe signature"));
    f.format_version = r.u8();
    const quint32 image_size = r.u32();
    const int nr_of_targets = r.u8();
    if (f.format_version != 1)
        return reject(f, QStringLiteral("unsupported DfuSe version %1").arg(f.format_version));
    if (image_size != static_cast<quint32>(body_end))
        return reject(f, QStringLiteral("image size %1 does not match the file").arg(image_size));

    for (int t = 0; t < nr_of_targets; ++t) {
        if (!r.has(target_prefix_size))
            return reject(f, QStringLiteral("target %1 cut short").arg(t));
        if (r.take(6) != QByteArray("Target", 6))
            return reject(f, QStringLiteral("target %1 has no signature").arg(t));
        Target target;
        target.alternate_setting = r.u8();
        const quint32 named = r.u32();
        const QByteArray name = r.take(target_name_size);
        if (named != 0)
            target.name = QString::fromUtf8(name.left(name.indexOf('\0') < 0 ? name.size()
                                                                             : name.indexOf('\0')));
        const quint32 target_size = r.u32();
        const quint32 nr_of_elements = r.u32();
        if (!r.has(target_size))
            return reject(f, QStringLiteral("target %1 larger than the file").arg(t));
        const int target_end = r.pos() + static_cast<int>(target_size);
        for (quint32 e = 0; e < nr_of_elements; ++e) {
            if (r.pos() + element_header_size > target_end)
                return reject(f, QStringLiteral("element %1 of target %2 cut short").arg(e).arg(t));
            Element element;
            element.address = r.u32();
            const quint32 size = r.u32();
            if (size > static_cast<quint32>(target_end - r.pos()))
                return reject(f, QStringLiteral("element %1 of target %2 larger than its target")
                                     .arg(e)
                                     .arg(t));
            element.data = r.take(static_cast<int>(size));
            target.elements.push_back(element);
        }
        if (r.pos() != target_end)
            return reject(f, QStringLiteral("target %1 size does not match its elements").arg(t));
        f.targets.push_back(target);
    }
    if (r.pos() != body_end)
        return reject(f, QStringLiteral("unexpected bytes after the last target"));
    f.valid = true;
    return f;
}

QByteArray element_at(const File& file, quint32 address) {
    for (const Target& t : file.targets)
        for (const Element& e : t.elements)
            if (e.address == address)
                return e.data;
    return QByteArray();
}

} // namespace DfuSe
} // namespace DFU
