#include "tools/firmware_signature.h"

#include <QRegularExpression>
#include <QStringList>

#include <sodium.h>

namespace firmware_signature {

namespace {

using firmware_check::Supplied;

Verdict refused(const QString& file, const QString& fault, const QString& key_id = {}) {
    return {key_id, {}, file + QStringLiteral(": ") + fault};
}

const unsigned char* bytes_of(const QByteArray& bytes) {
    return reinterpret_cast<const unsigned char*>(bytes.constData());
}

// minisign's hashed form signs the file's BLAKE2b-512 hash (crypto_generichash, 64 bytes).
QByteArray blake2b_512(const QByteArray& file) {
    QByteArray hash(crypto_generichash_BYTES_MAX, '\0');
    crypto_generichash(reinterpret_cast<unsigned char*>(hash.data()), size_t(hash.size()),
                       bytes_of(file), size_t(file.size()), nullptr, 0);
    return hash;
}

bool ed25519_verifies(const QByteArray& signature, const QByteArray& message,
                      const QByteArray& key) {
    static_assert(crypto_sign_BYTES == minisign::layout::signature_size);
    static_assert(crypto_sign_PUBLICKEYBYTES == minisign::layout::key_size);
    return crypto_sign_verify_detached(bytes_of(signature), bytes_of(message),
                                       static_cast<unsigned long long>(message.size()),
                                       bytes_of(key)) == 0;
}

const minisign::PublicKey* trusted_key(const std::vector<minisign::PublicKey>& trusted,
                                       const QByteArray& key_id) {
    for (const minisign::PublicKey& key : trusted)
        if (key.key_id == key_id)
            return &key;
    return nullptr;
}

QString key_ids(const std::vector<minisign::PublicKey>& keys) {
    QStringList ids;
    for (const minisign::PublicKey& key : keys)
        ids << minisign::key_id_text(key.key_id);
    return ids.isEmpty() ? QStringLiteral("none") : ids.join(QStringLiteral(", "));
}

// Words of the form name=value, separated by white space (minisign's own comments use tabs).
QMap<QString, QString> claims_of(const QByteArray& trusted_comment) {
    static const QRegularExpression space(QStringLiteral("\\s+"));
    QMap<QString, QString> claims;
    for (const QString& word :
         QString::fromUtf8(trusted_comment).split(space, Qt::SkipEmptyParts)) {
        const int equals = word.indexOf(QLatin1Char('='));
        if (equals > 0)
            claims.insert(word.left(equals), word.mid(equals + 1));
    }
    return claims;
}

// The signature's own form and its key, before any cryptography.
Verdict signature_fault(const Supplied& signature, const minisign::Signature& s,
                        const std::vector<minisign::PublicKey>& trusted) {
    const QString id = minisign::key_id_text(s.key_id);
    if (s.algorithm == minisign::legacy_algorithm)
        return refused(signature.name,
                       QStringLiteral("a legacy signature of the file itself (minisign -l): "
                                      "sign the release again without -l"),
                       id);
    if (s.algorithm != minisign::hashed_algorithm)
        return refused(signature.name,
                       QStringLiteral("its signature's algorithm \"%1\" is not "
                                      "minisign's")
                           .arg(QString::fromLatin1(s.algorithm.toHex())),
                       id);
    if (!trusted_key(trusted, s.key_id))
        return refused(signature.name,
                       QStringLiteral("signed by key %1, which is not among the trusted keys (%2)")
                           .arg(id, key_ids(trusted)),
                       id);
    return {id, {}, {}};
}

} // namespace

TrustedKeys read_trusted_keys(const std::vector<Supplied>& files) {
    TrustedKeys trusted;
    for (const Supplied& file : files) {
        QString fault;
        const std::optional<minisign::PublicKey> key =
            minisign::read_public_key(file.bytes, &fault);
        if (!key) {
            trusted.refusal = file.name + QStringLiteral(": not a minisign public key: ") + fault;
            return trusted;
        }
        trusted.keys.push_back(*key);
    }
    return trusted;
}

Verdict verify(const Supplied& signed_file, const Supplied& signature,
               const std::vector<minisign::PublicKey>& trusted) {
    if (sodium_init() < 0)
        return refused(signature.name, QStringLiteral("libsodium cannot be initialised"));
    QString fault;
    const std::optional<minisign::Signature> s = minisign::read_signature(signature.bytes, &fault);
    if (!s)
        return refused(signature.name, QStringLiteral("not a minisign signature: ") + fault);
    Verdict verdict = signature_fault(signature, *s, trusted);
    if (!verdict.refusal.isEmpty())
        return verdict;
    const minisign::PublicKey& key = *trusted_key(trusted, s->key_id);
    if (!ed25519_verifies(s->signature, blake2b_512(signed_file.bytes), key.key))
        return refused(signed_file.name,
                       QStringLiteral("does not match its signature %1 by key %2: it was changed "
                                      "after signing, or the signature is another file's")
                           .arg(signature.name, verdict.key_id),
                       verdict.key_id);
    if (!ed25519_verifies(s->global_signature, s->signature + s->trusted_comment, key.key))
        return refused(signature.name,
                       QStringLiteral("its trusted comment was changed after signing (the "
                                      "global signature by key %1 does not match it)")
                           .arg(verdict.key_id),
                       verdict.key_id);
    verdict.claims = claims_of(s->trusted_comment);
    return verdict;
}

QString claims_fault(const Verdict& verdict, const QString& signature_name,
                     const Device::FW_Info& info) {
    const QString how =
        QStringLiteral(" (sign with -t \"product=%1 revision=%2\")").arg(info.name, info.revision);
    const std::pair<QString, QString> claimed[] = {{QStringLiteral("product"), info.name},
                                                   {QStringLiteral("revision"), info.revision}};
    for (const auto& [name, own] : claimed) {
        if (!verdict.claims.contains(name))
            return signature_name + QStringLiteral(": its trusted comment names no %1").arg(name) +
                   how;
        if (verdict.claims.value(name) != own)
            return signature_name +
                   QStringLiteral(": its trusted comment names %1 %2, but the image's "
                                  "information block names %3")
                       .arg(name, verdict.claims.value(name), own);
    }
    return QString();
}

} // namespace firmware_signature
