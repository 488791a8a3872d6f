#include "dfu/dfuse_file.h"

#include "device/bytes.h"
#include "device/memory_map.h"

namespace DFU {
namespace DfuSe {

namespace {

void put_u8(QByteArray& out, quint8 v) {
    out.append(static_cast<char>(v));
}
void put_u16(QByteArray& out, quint16 v) {
    put_u8(out, static_cast<quint8>(v & 0xFF));
    put_u8(out, static_cast<quint8>(v >> 8));
}
void put_u32(QByteArray& out, quint32 v) {
    put_u16(out, static_cast<quint16>(v & 0xFFFF));
    put_u16(out, static_cast<quint16>(v >> 16));
}

// Little-endian fields from a start offset on. Reads check nothing themselves: every caller has
// checked that the whole part lies in the bytes first.
class Fields {
public:
    Fields(const QByteArray& bytes, int at) : bytes_(bytes), pos_(at) {}
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
    int pos_;
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
        body.append(target_signature);
        put_u8(body, t.alternate_setting);
        put_u32(body, t.name.isEmpty() ? 0u : 1u);
        QByteArray name = t.name.toUtf8().left(target_name_size - 1);
        name.append(QByteArray(target_name_size - name.size(), '\0'));
        body.append(name);
        put_u32(body, static_cast<quint32>(elements.size()));
        put_u32(body, static_cast<quint32>(t.elements.size()));
        body.append(elements);
    }
    QByteArray file(prefix_signature);
    put_u8(file, 1);
    put_u32(file, static_cast<quint32>(prefix_size + body.size()));
    put_u8(file, static_cast<quint8>(targets.size()));
    file.append(body);
    put_u16(file, device);
    put_u16(file, product);
    put_u16(file, vendor);
    put_u16(file, dfuse_bcd_dfu);
    file.append(suffix_signature);
    put_u8(file, suffix_size);
    put_u32(file, suffix_crc(file));
    return file;
}

QByteArray make_flash_file(const QByteArray& image) {
    Target target;
    target.alternate_setting = Device::memory_map::flash_alt;
    target.name = QStringLiteral("ST...");
    target.elements.push_back({Device::memory_map::flash_base, image});
    return make_file({target}, bootloader_vendor, bootloader_product);
}

std::optional<Prefix> read_prefix(const QByteArray& bytes, int at) {
    if (!Device::bytes::in_range(bytes, at, prefix_size))
        return std::nullopt;
    Fields r(bytes, at);
    Prefix p;
    p.signature = r.take(sizeof(prefix_signature) - 1);
    p.format_version = r.u8();
    p.image_size = r.u32();
    p.targets = r.u8();
    return p;
}

std::optional<TargetPrefix> read_target_prefix(const QByteArray& bytes, int at) {
    if (!Device::bytes::in_range(bytes, at, target_prefix_size))
        return std::nullopt;
    Fields r(bytes, at);
    TargetPrefix t;
    t.signature = r.take(sizeof(target_signature) - 1);
    t.alternate_setting = r.u8();
    t.named = r.u32();
    t.name = r.take(target_name_size);
    t.size = r.u32();
    t.elements = r.u32();
    return t;
}

std::optional<ElementHeader> read_element_header(const QByteArray& bytes, int at) {
    if (!Device::bytes::in_range(bytes, at, element_header_size))
        return std::nullopt;
    Fields r(bytes, at);
    ElementHeader e;
    e.address = r.u32();
    e.size = r.u32();
    return e;
}

std::optional<Suffix> read_suffix(const QByteArray& bytes) {
    if (bytes.size() < suffix_size)
        return std::nullopt;
    Fields r(bytes, bytes.size() - suffix_size);
    Suffix s;
    s.device = r.u16();
    s.product = r.u16();
    s.vendor = r.u16();
    s.dfu_version = r.u16();
    s.signature = r.take(sizeof(suffix_signature) - 1);
    s.length = r.u8();
    s.crc = r.u32();
    return s;
}

namespace {

// Reads the target at `pos` of the body (the file without its suffix) into `f`, and moves `pos`
// past it; returns why the target is rejected, or an empty string.
QString parse_target(const QByteArray& body, int& pos, int index, File& f) {
    const auto prefix = read_target_prefix(body, pos);
    if (!prefix)
        return QStringLiteral("target %1 cut short").arg(index);
    if (prefix->signature != target_signature)
        return QStringLiteral("target %1 has no signature").arg(index);
    Target target;
    target.alternate_setting = prefix->alternate_setting;
    if (prefix->named != 0) {
        const int nul = prefix->name.indexOf('\0');
        target.name = QString::fromUtf8(nul < 0 ? prefix->name : prefix->name.left(nul));
    }
    pos += target_prefix_size;
    if (prefix->size > static_cast<quint32>(body.size() - pos))
        return QStringLiteral("target %1 larger than the file").arg(index);
    const int target_end = pos + static_cast<int>(prefix->size);
    for (quint32 e = 0; e < prefix->elements; ++e) {
        const auto header = read_element_header(body, pos);
        if (!header || pos + element_header_size > target_end)
            return QStringLiteral("element %1 of target %2 cut short").arg(e).arg(index);
        pos += element_header_size;
        if (header->size > static_cast<quint32>(target_end - pos))
            return QStringLiteral("element %1 of target %2 larger than its target")
                .arg(e)
                .arg(index);
        target.elements.push_back({header->address, body.mid(pos, static_cast<int>(header->size))});
        pos += static_cast<int>(header->size);
    }
    if (pos != target_end)
        return QStringLiteral("target %1 size does not match its elements").arg(index);
    f.targets.push_back(target);
    return QString();
}

} // namespace

File parse(const QByteArray& bytes) {
    File f;
    if (bytes.size() < prefix_size + suffix_size)
        return reject(f, QStringLiteral("file too short (%1 bytes)").arg(bytes.size()));

    const Suffix suffix = *read_suffix(bytes);
    f.device = suffix.device;
    f.product = suffix.product;
    f.vendor = suffix.vendor;
    f.dfu_version = suffix.dfu_version;
    f.crc = suffix.crc;
    if (suffix.signature != suffix_signature || suffix.length != suffix_size)
        return reject(f, QStringLiteral("no DFU suffix"));
    if (f.crc != suffix_crc(bytes.left(bytes.size() - 4)))
        return reject(f, QStringLiteral("suffix CRC does not match"));

    // Without its suffix, so that no target can reach into it.
    const QByteArray body = bytes.left(bytes.size() - suffix_size);
    const Prefix prefix = *read_prefix(body);
    f.format_version = prefix.format_version;
    if (prefix.signature != prefix_signature)
        return reject(f, QStringLiteral("no DfuSe signature"));
    if (f.format_version != 1)
        return reject(f, QStringLiteral("unsupported DfuSe version %1").arg(f.format_version));
    if (prefix.image_size != static_cast<quint32>(body.size()))
        return reject(
            f, QStringLiteral("image size %1 does not match the file").arg(prefix.image_size));

    int pos = prefix_size;
    for (int t = 0; t < prefix.targets; ++t) {
        const QString why = parse_target(body, pos, t, f);
        if (!why.isEmpty())
            return reject(f, why);
    }
    if (pos != body.size())
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
