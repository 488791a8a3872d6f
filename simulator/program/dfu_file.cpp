#include "simulator/program/dfu_file.h"

#include "dfu/dfuse_file.h"
#include "simulator/program/output.h"

#include <QFile>
#include <QFileInfo>

namespace simulator {

namespace {

QByteArray read_file(const QString& path) {
    const QFileInfo info(path);
    QFile file(path);
    if (!info.exists())
        fail(ex_ioerr,
             QStringLiteral("Could not open file %1 for reading: No such file or directory")
                 .arg(path));
    if (!info.isFile() || !file.open(QIODevice::ReadOnly))
        fail(ex_ioerr,
             QStringLiteral("Could not open file %1 for reading: Permission denied").arg(path));
    return file.readAll();
}

} // namespace

DfuFile load_dfu_file(const QString& path) {
    using namespace DFU::DfuSe;
    DfuFile f;
    f.bytes = read_file(path);
    const std::optional<Suffix> suffix = read_suffix(f.bytes);
    QString missing;
    if (!suffix)
        missing = QStringLiteral("File too short for DFU suffix");
    else if (suffix->signature != suffix_signature)
        missing = QStringLiteral("Invalid DFU suffix signature");
    else if (suffix->crc != suffix_crc(f.bytes.left(f.bytes.size() - 4)))
        missing = QStringLiteral("DFU suffix CRC does not match");
    if (!missing.isEmpty()) {
        warn(missing);
        warn(QStringLiteral("A valid DFU suffix will be required in a future dfu-util release!!!"));
        return f;
    }
    if (suffix->length < suffix_size)
        fail(ex_ioerr, QStringLiteral("Unsupported DFU suffix length %1").arg(suffix->length));
    if (suffix->length > f.bytes.size())
        fail(ex_ioerr, QStringLiteral("Invalid DFU suffix length %1").arg(suffix->length));
    f.suffix_length = suffix->length;
    f.dfu_version = suffix->dfu_version;
    f.vendor = suffix->vendor;
    f.product = suffix->product;
    return f;
}

} // namespace simulator
