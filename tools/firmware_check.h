#pragma once
// The check of the firmware a build carries, before anything of it is embedded: a supplied
// release (a DfuSe file, its raw flash image, or both) signed by the firmware team, or the
// generated development firmware, read with the product's own parsers. Every refusal is one
// line naming the file and what is wrong with it. Qt Core and libsodium.

#include "device/fw_info.h"
#include "tools/supplied.h"

#include <QByteArray>
#include <QString>

#include <optional>
#include <vector>

namespace firmware_check {

// What the build was given.
struct Release {
    Supplied dfu;
    Supplied image;
    QString pinned_sha256;
    Supplied signature;                 // minisign's, of `dfu` if given, else of `image`
    std::vector<Supplied> trusted_keys; // minisign public keys
    bool development = false; // the generated development firmware, which alone may be unsigned
};

// What the build carries once the check has passed.
struct Carried {
    QByteArray dfu;   // the DfuSe file dfu-util writes into a unit
    QByteArray image; // its one element, the raw flash image
    Device::FW_Info info;
    QString sha256; // of `dfu`, lower-case hexadecimal
    QString key_id; // of the key that signed it, or Device::development_key_id()
};

struct Outcome {
    std::optional<Carried> carried;
    QString refusal; // "<file>: what is wrong"; empty when carried
};

// At least one of `dfu` and `image` is given; a DfuSe file given as `image` is refused. A given
// `pinned_sha256` is compared with the digest of the DfuSe file if one is given, else with that of
// the raw image. The signature is of that same file, by one of the trusted keys, and its trusted
// comment names the image's own product and revision (tools/firmware_signature.h); only the
// development firmware may come without one. The image must fit the flash and start with a
// vector table the unit can boot from (device/vector_table.h).
Outcome check(const Release& release);

} // namespace firmware_check
