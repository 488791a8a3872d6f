#pragma once
// Whether a release is the firmware team's: its minisign signature (tools/minisign.h) checked
// in-process with libsodium against the keys the build trusts, and what the signed trusted
// comment says of the firmware. Each refusal is "<file>: what is wrong", naming the file at
// fault: the signature, the release, or a trusted key.

#include "device/fw_info.h"
#include "tools/minisign.h"
#include "tools/supplied.h"

#include <QMap>
#include <QString>

#include <vector>

namespace firmware_signature {

struct TrustedKeys {
    std::vector<minisign::PublicKey> keys;
    QString refusal; // the first file that is not a minisign public key
};
TrustedKeys read_trusted_keys(const std::vector<firmware_check::Supplied>& files);

struct Verdict {
    QString key_id;                // of the key that made the signature (minisign::key_id_text)
    QMap<QString, QString> claims; // the trusted comment's name=value words
    QString refusal;               // empty when the signature is good
};

// `signed_file` is the file the signature is said to be of. Refused, each in its own words: a
// signature file that is none (or of minisign's legacy form), a key not among `trusted`, a
// signature that does not match the file's bytes, and a trusted comment changed after signing.
Verdict verify(const firmware_check::Supplied& signed_file,
               const firmware_check::Supplied& signature,
               const std::vector<minisign::PublicKey>& trusted);

// What the signed trusted comment claims ("product=LUMO7 revision=B9", as the firmware team
// signs with minisign -t) against the image's own information block: its product string and
// revision. Empty when both are named and agree.
QString claims_fault(const Verdict& verdict, const QString& signature_name,
                     const Device::FW_Info& info);

} // namespace firmware_signature
