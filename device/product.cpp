#include "device/product.h"

#include "device/text_form.h"

#include <algorithm>

namespace Device {

namespace {
// Built on first use, so that the lookups also work from another file's static initialiser.
const Products& table() {
    static const Products rows{{
        {invalid, "invalid", "Invalid", "N/A", "N/A"},
        {undefined, "undefined", "Undefined", "?", "?"},
        {VELK, "VELK", "Velkar", "Lumo-7", "Lumo-7 SyncX"},
        {RAMO, "RAMO", "Ramos", "K5", "K5 SyncX"},
        {SUND, "SUND", "Sundal", "R3", "R3 SyncX"},
        {unknown, "unknown", "Unknown", "unknown", "unknown"},
    }};
    return rows;
}
} // namespace

const Products& products = table();

Products::const_iterator Products::find(Type t) const {
    return std::find_if(begin(), end(), [t](const Product& p) { return p.type == t; });
}

Products::const_iterator Products::find(unsigned char t) const {
    return find(static_cast<Type>(t));
}

Products::const_iterator Products::find(const QString& code) const {
    return std::find_if(begin(), end(), [&code](const Product& p) { return p.code == code; });
}

bool is_valid(Type t) { return t != invalid && t != undefined; }

bool is_known(Type t) { return is_valid(t) && t != unknown; }

Type to_Type(unsigned char code) {
    const auto row = table().find(code);
    return row == table().end() ? unknown : row->type;
}

Type to_Type(const QString& code) {
    if (code.isEmpty())
        return invalid;
    const auto row = table().find(code);
    return row == table().end() ? unknown : row->type;
}

QString to_QString(Type t) {
    const auto row = table().find(t);
    return row == table().end() ? QStringLiteral("impossible type") : row->code;
}

std::string to_string(Type t) { return to_QString(t).toStdString(); }

std::ostream& operator<<(std::ostream& os, Type t) { return os << to_string(t); }

QDebug operator<<(QDebug dbg, Type t) {
    return write_text_form(dbg, to_QString(t));
}

QString ProductInfo::product_name() const {
    const auto row = table().find(type);
    return row == table().end() ? QString() : row->product_name;
}

QString ProductInfo::product_name_full() const {
    const auto row = table().find(type);
    return row == table().end() ? QString() : row->product_name_full;
}

ProductInfo::operator QString() const {
    QString text = QStringLiteral("ProductInfo: %1 (%2)").arg(to_QString(type)).arg(int(type));
    if (byte1 == 0xFF && byte2 == 0xFF && byte3 == 0xFF && type != unknown)
        return text;
    const auto hex = [](int v) { return QStringLiteral("%1").arg(v, 2, 16, QLatin1Char('0')); };
    return text + QStringLiteral(" [%1 %2 %3 %4]")
                      .arg(hex(raw_type), hex(byte1), hex(byte2), hex(byte3));
}

ProductInfo make_ProductInfo(ProductInfoRaw raw) {
    ProductInfo info;
    info.type = to_Type(raw.type_code);
    info.byte1 = raw.byte1;
    info.byte2 = raw.byte2;
    info.byte3 = raw.byte3;
    info.raw_type = raw.type_code;
    return info;
}

bool operator==(const ProductInfo& a, const ProductInfo& b) {
    return a.type == b.type && a.byte1 == b.byte1 && a.byte2 == b.byte2 && a.byte3 == b.byte3;
}

QDebug operator<<(QDebug dbg, const ProductInfo& info) {
    return write_text_form(dbg, QString(info));
}

} // namespace Device
