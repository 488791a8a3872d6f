#pragma once
// Product identity: the one-byte type code that units and firmware images carry, the fixed
// product table with its marketing names, and the decoded four product bytes.

#include <QDebug>
#include <QString>
#include <QtGlobal>

#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace Device {

// Holds any byte: codes without a table row are mapped to `unknown` by the lookups, but a
// variable of this type may still carry them (to_QString then says "impossible type").
enum Type : quint8 {
    invalid = 0,     // no product
    VELK = 3,        // first product
    RAMO = 43,       // second product
    SUND = 132,      // third product
    unknown = 254,   // present, but not in the table
    undefined = 255, // erased / unprogrammed byte
};

// One row of the product table.
struct Product {
    Type type;
    QString code;              // short code text, e.g. "VELK"
    QString name;              // internal product name
    QString product_name;      // marketing model name
    QString product_name_full; // full marketing name for the window title
};

// The fixed product table: rows in a fixed order, looked up by linear scan.
class Products {
public:
    using const_iterator = std::vector<Product>::const_iterator;

    explicit Products(std::vector<Product> rows) : rows_(std::move(rows)) {}

    const_iterator begin() const { return rows_.begin(); }
    const_iterator end() const { return rows_.end(); }
    std::size_t size() const { return rows_.size(); }

    // First row with that type (or code, compared case-sensitively), else end().
    const_iterator find(Type t) const;
    const_iterator find(unsigned char t) const;
    const_iterator find(const QString& code) const;

private:
    std::vector<Product> rows_;
};

// The one product table. Read-only once built (during static initialisation, or at the first
// lookup if that comes earlier): safe to read from any thread.
extern const Products& products;

// False for `invalid` and `undefined`, true for every other byte (`unknown` included).
bool is_valid(Type t);
// A product of the table: true exactly for 1 to 253.
bool is_known(Type t);

// Codes without a row give `unknown`.
Type to_Type(unsigned char code);
// Empty (or null) text gives `invalid`; a text that is no row's code gives `unknown`.
Type to_Type(const QString& code);

// The row's code text, or "impossible type" for a value without row.
QString to_QString(Type t);
std::string to_string(Type t);

std::ostream& operator<<(std::ostream& os, Type t);
// Unquoted; the stream's quoting is restored afterwards.
QDebug operator<<(QDebug dbg, Type t);

// The four product bytes in storage order. Read as one little-endian 32-bit word,
// `type_code` is the low byte. Erased storage reads FF FF FF FF.
struct ProductInfoRaw {
    quint8 type_code = 0xFF;
    quint8 byte1 = 0xFF;
    quint8 byte2 = 0xFF;
    quint8 byte3 = 0xFF;
};

// The decoded product bytes.
struct ProductInfo {
    Type type = invalid;
    quint8 byte1 = 0xFF;
    quint8 byte2 = 0xFF;
    quint8 byte3 = 0xFF;
    qint32 raw_type = 0; // the type code as read, kept so that an `unknown` code can be shown

    // The table row's names; empty if no row has this type.
    QString product_name() const;
    QString product_name_full() const;

    // "ProductInfo: VELK (3)", with " [03 01 ff ff]" appended when bytes 1 to 3 are not all
    // erased or the type is `unknown`.
    operator QString() const;
};

ProductInfo make_ProductInfo(ProductInfoRaw raw);

// `raw_type` does not take part: it is what `type` was decoded from.
bool operator==(const ProductInfo& a, const ProductInfo& b);
inline bool operator!=(const ProductInfo& a, const ProductInfo& b) { return !(a == b); }

// The text form, unquoted; the stream's quoting is restored afterwards.
QDebug operator<<(QDebug dbg, const ProductInfo& info);

} // namespace Device
