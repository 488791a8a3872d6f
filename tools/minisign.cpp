#include "tools/minisign.h"

#include <QList>

#include <algorithm>

namespace minisign {

namespace {

// The file's lines without their line ends (a carriage return before one too); a last line
// without a line feed counts as a line.
QList<QByteArray> lines_of(const QByteArray& text) {
    QList<QByteArray> lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QByteArray& line : lines)
        if (line.endsWith('\r'))
            line.chop(1);
    return lines;
}

std::optional<QByteArray> after_prefix(const QByteArray& line, const char* prefix) {
    if (!line.startsWith(prefix))
        return std::nullopt;
    return line.mid(int(qstrlen(prefix)));
}

std::optional<QByteArray> decoded(const QByteArray& line, int size) {
    const QByteArray::FromBase64Result result =
        QByteArray::fromBase64Encoding(line, QByteArray::AbortOnBase64DecodingErrors);
    if (!result || result.decoded.size() != size)
        return std::nullopt;
    return result.decoded;
}

QString not_base64(const char* what, int size) {
    return QStringLiteral("its %1 line is not the base64 of %2 bytes")
        .arg(QLatin1String(what))
        .arg(size);
}

QString no_prefix(int line, const char* prefix) {
    return QStringLiteral("its line %1 does not begin with \"%2\"")
        .arg(line)
        .arg(QLatin1String(prefix).trimmed());
}

} // namespace

std::optional<PublicKey> read_public_key(const QByteArray& text, QString* fault) {
    const QList<QByteArray> lines = lines_of(text);
    if (lines.size() != 2) {
        *fault =
            QStringLiteral("it has %1 lines, not the 2 of a minisign public key").arg(lines.size());
        return std::nullopt;
    }
    const std::optional<QByteArray> comment = after_prefix(lines[0], untrusted_prefix);
    if (!comment) {
        *fault = no_prefix(1, untrusted_prefix);
        return std::nullopt;
    }
    const std::optional<QByteArray> bytes = decoded(lines[1], layout::public_key_size);
    if (!bytes) {
        *fault = not_base64("key", layout::public_key_size);
        return std::nullopt;
    }
    if (!bytes->startsWith(key_algorithm)) {
        *fault = QStringLiteral("its key is not an Ed25519 key (\"%1\")")
                     .arg(QString::fromLatin1(bytes->left(layout::algorithm_size).toHex()));
        return std::nullopt;
    }
    return PublicKey{bytes->mid(layout::key_id_offset, layout::key_id_size),
                     bytes->mid(layout::key_offset, layout::key_size), QString::fromUtf8(*comment)};
}

std::optional<Signature> read_signature(const QByteArray& text, QString* fault) {
    const QList<QByteArray> lines = lines_of(text);
    if (lines.size() != 4) {
        *fault =
            QStringLiteral("it has %1 lines, not the 4 of a minisign signature").arg(lines.size());
        return std::nullopt;
    }
    const std::optional<QByteArray> trusted = after_prefix(lines[2], trusted_prefix);
    const std::optional<QByteArray> bytes = decoded(lines[1], layout::signature_line_size);
    const std::optional<QByteArray> global = decoded(lines[3], layout::global_signature_size);
    if (!after_prefix(lines[0], untrusted_prefix))
        *fault = no_prefix(1, untrusted_prefix);
    else if (!bytes)
        *fault = not_base64("signature", layout::signature_line_size);
    else if (!trusted)
        *fault = no_prefix(3, trusted_prefix);
    else if (!global)
        *fault = not_base64("global signature", layout::global_signature_size);
    else
        return Signature{bytes->left(layout::algorithm_size),
                         bytes->mid(layout::key_id_offset, layout::key_id_size),
                         bytes->mid(layout::signature_offset, layout::signature_size), *trusted,
                         *global};
    return std::nullopt;
}

QString key_id_text(const QByteArray& key_id) {
    QByteArray number = key_id;
    std::reverse(number.begin(), number.end()); // little-endian: the last byte leads
    return QString::fromLatin1(number.toHex()).toUpper();
}

} // namespace minisign
