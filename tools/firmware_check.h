#pragma once
// The check of the firmware a build carries, before anything of it is embedded: a supplied
// release (a DfuSe file, its raw flash image, or both) or the generated development firmware,
// read with the product's own parsers. Every refusal is one line naming the file and what is
// wrong with it. Qt Core only.

#include "device/fw_info.h"

#include <QByteArray>
#include <QString>

#include <optional>

namespace firmware_check {

// A supplied file: its name as given (empty when not given) and its bytes.
struct Supplied {
    QString name;
    QByteArray bytes;
    bool given() const { return !name.isEmpty(); }
};

// What the build carries once the check has passed.
struct Carried {
    QByteArray dfu;   // the DfuSe file dfu-util writes into a unit
    QByteArray image; // its one element, the raw flash image
    Device::FW_Info info;
    QString sha256; // of `dfu`, lower-case hexadecimal
};

struct Outcome {
    std::optional<Carried> carried;
    QString refusal; // "<file>: what is wrong"; empty when carried
};

// At least one of `dfu` and `image` is given; a DfuSe file given as `image` is refused. A given
// `pinned_sha256` is compared with the digest of the DfuSe file if one is given, else with that of
// the raw image. The image must fit the flash and start with a vector table the unit can boot
// from (device/vector_table.h).
Outcome check(const Supplied& dfu, const Supplied& image, const QString& pinned_sha256 = {});

} // namespace firmware_check
