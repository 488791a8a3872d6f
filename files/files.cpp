#include "files/files.h"

#include <QDebug>
#include <QDir>
#include <QFile>

namespace Files {

namespace {

// The directory that holds the extraction directory. Qt gives an empty temporary path when
// TMPDIR names no directory; the extraction directory must then fail there, with the system's
// reason, and never be made at the top of the file system instead.
QString temp_base() {
    const QString temp = QDir::tempPath();
    return temp.isEmpty() ? QFile::decodeName(qgetenv("TMPDIR")) : temp;
}

constexpr qint64 copy_block = 64 * 1024;

// Writes the embedded file `source` to `path`, read-only like the original; a file already
// there is kept and the copy fails. Not QFile::copy: that syncs every copy to disk, which costs
// start-up a few milliseconds on a fast disk and far more on a slow one, for files that live
// only as long as this process. A copy cut short is removed.
bool copy_out(QFile& source, const QString& path, QString* why) {
    QFile out(path);
    if (!source.open(QIODevice::ReadOnly) ||
        !out.open(QIODevice::WriteOnly | QIODevice::NewOnly)) {
        *why = source.isOpen() ? out.errorString() : source.errorString();
        return false;
    }
    bool written = true;
    while (written && !source.atEnd()) {
        const QByteArray block = source.read(copy_block);
        written = !block.isEmpty() && out.write(block) == block.size();
    }
    out.close();
    written = written && out.error() == QFileDevice::NoError &&
              out.setPermissions(source.permissions());
    if (!written) {
        *why = out.error() != QFileDevice::NoError ? out.errorString() : source.errorString();
        out.remove();
    }
    return written;
}

} // namespace

QTemporaryDir external_dir(temp_base() + QStringLiteral("/upgrade_XXXXXX"));

const std::map<ID, QString> basename = {
    {ID::dfu_util_executable, QStringLiteral("dfu-util")},
    {ID::libusb_library, QStringLiteral("libusb-1.0.0.dylib")},
    {ID::firmware_dfu, QStringLiteral("firmware.dfu")},
    {ID::firmware_bin, QStringLiteral("firmware.bin")},
    {ID::uploaded_FW, QStringLiteral("uploaded_FW.bin")},
    {ID::uploaded_FW_info, QStringLiteral("uploaded_FW_info.bin")},
    {ID::uploaded_OTP, QStringLiteral("uploaded_OTP.bin")},
};

// Defined after the table, in the same file: initialised from it.
const QString desired_FW_fileName_dfu = basename.at(ID::firmware_dfu);
const QString desired_FW_fileName_bin = basename.at(ID::firmware_bin);
const QString uploaded_FW_fileName_bin = basename.at(ID::uploaded_FW);
const QString uploaded_FW_info_fileName_bin = basename.at(ID::uploaded_FW_info);
const QString uploaded_OTP_fileName_bin = basename.at(ID::uploaded_OTP);
const QString dfu_util_executable_fileName = basename.at(ID::dfu_util_executable);

QString path_of(const QString& base_name) { return external_dir.path() + "/" + base_name; }

bool extract_resources(std::vector<ID> ids, bool must_succeed, Problem* problem) {
    if (!external_dir.isValid()) {
        qInfo() << "Failed to create temporary directory:" << external_dir.errorString();
        if (problem)
            *problem = {temp_base(), external_dir.errorString()};
        return false;
    }
    bool ok = true;
    const QString prefix = QStringLiteral(":resources/");
    for (const ID id : ids) {
        const auto it = basename.find(id);
        const QString name = it == basename.end() ? QString() : it->second;
        QFile source(prefix + name);
        QString why;
        if (copy_out(source, path_of(name), &why)) {
            qDebug() << "Extracted " << name;
        } else {
            qInfo() << "Failed to extract " << name;
            if (ok && problem)
                *problem = {path_of(name), why};
            ok = false;
        }
    }
    return ok || !must_succeed;
}

} // namespace Files
