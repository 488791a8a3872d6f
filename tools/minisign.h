#pragma once
// minisign's public key and signature files, as minisign 0.11 writes them: read here, never
// written (the firmware team signs with minisign itself). Qt Core only; whether a signature is
// good is tools/firmware_signature.h's to say.
//
// Both files are lines ending in a line feed; their binary lines are base64:
//   public key file                   signature file (<file>.minisig)
//   untrusted comment: <free text>    untrusted comment: <free text>
//   <base64 of the key, 42 bytes>     <base64 of the signature, 74 bytes>
//                                     trusted comment: <text, signed as well>
//                                     <base64 of the global signature, 64 bytes>
//
//   the key          offset  size  content
//                    0       2     "Ed" (Ed25519)
//                    2       8     the key id
//                    10      32    the Ed25519 public key
//   the signature    0       2     "ED": of the file's BLAKE2b-512 hash (minisign's default);
//                                  "Ed": of the file itself (the legacy form, minisign -l)
//                    2       8     the id of the key that made it
//                    10      64    the Ed25519 signature
// The global signature is Ed25519 over the signature's 64 bytes followed by the trusted
// comment's text (without its prefix and line feed): a changed trusted comment breaks it.

#include <QByteArray>
#include <QString>

#include <optional>

namespace minisign {

namespace layout {
constexpr int algorithm_size = 2;
constexpr int key_id_offset = 2;
constexpr int key_id_size = 8;
constexpr int key_offset = 10;
constexpr int key_size = 32;
constexpr int public_key_size = key_offset + key_size;
constexpr int signature_offset = 10;
constexpr int signature_size = 64;
constexpr int signature_line_size = signature_offset + signature_size;
constexpr int global_signature_size = 64;
} // namespace layout

constexpr char untrusted_prefix[] = "untrusted comment: ";
constexpr char trusted_prefix[] = "trusted comment: ";
constexpr char key_algorithm[] = "Ed";
constexpr char hashed_algorithm[] = "ED";
constexpr char legacy_algorithm[] = "Ed";

struct PublicKey {
    QByteArray key_id; // key_id_size bytes, as stored
    QByteArray key;    // key_size bytes
    QString comment;   // the untrusted comment: who holds the key, in the tree's keys
};

struct Signature {
    QByteArray algorithm; // hashed_algorithm or legacy_algorithm
    QByteArray key_id;
    QByteArray signature;
    QByteArray trusted_comment; // as signed: the text after trusted_prefix
    QByteArray global_signature;
};

// The key or signature, or nothing and in `fault` what is wrong (never reads past `text`).
std::optional<PublicKey> read_public_key(const QByteArray& text, QString* fault);
std::optional<Signature> read_signature(const QByteArray& text, QString* fault);

// The key id as 16 upper-case hexadecimal digits ("7C27C6E398285B8F"): the 8 bytes as one
// little-endian 64-bit number, as minisign prints it, but always with its leading zeros
// (minisign 0.11 drops them: "D62935DE2D4059C" here is "0D62935DE2D4059C").
QString key_id_text(const QByteArray& key_id);

} // namespace minisign
