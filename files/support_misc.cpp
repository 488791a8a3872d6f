#include "files/support_misc.h"

#include <QDirIterator>
#include <QFile>
#include <QFileInfo>

namespace support_misc {

#ifdef DEBUG
const bool compiled_w_DEBUG = true;
#else
const bool compiled_w_DEBUG = false;
#endif

Platform compiled_for_platform() {
#if defined(Q_OS_MACOS)
    return Platform::macOS;
#elif defined(Q_OS_WIN)
    return Platform::windows;
#elif defined(Q_OS_LINUX)
    return Platform::Linux;
#else
    return Platform::unknown;
#endif
}

bool compiled_for_platform(Platform p) { return p == compiled_for_platform(); }

QDebug operator<<(QDebug debug, Platform p) {
    QDebugStateSaver saver(debug);
    const char* name = "";
    switch (p) {
    case Platform::Linux: name = "Linux"; break;
    case Platform::macOS: name = "macOS"; break;
    case Platform::windows: name = "windows"; break;
    case Platform::unknown: name = "unknown"; break;
    }
    debug.noquote() << QString::fromLatin1(name);
    return debug;
}

bool mark_file_executable(const QString& path) {
    QFile file(path);
    if (!file.exists()) {
        qWarning() << "Failed to mark file (doesn't exist) as executable:" << path;
        return false;
    }
    qDebug() << "Changing file permissions to make it executable:" << path;
    // The *User flags describe what this process may do (everything, for root), not the
    // file's mode; keeping them would make the file writable when run as root.
    const QFileDevice::Permissions mode =
        file.permissions() & ~(QFileDevice::ReadUser | QFileDevice::WriteUser | QFileDevice::ExeUser);
    return file.setPermissions(mode | QFileDevice::ExeUser | QFileDevice::ExeGroup |
                               QFileDevice::ExeOther);
}

void ensure_file_is_deleted(const QString& path) {
    const QFileInfo info(path);
    if (info.exists() && info.isFile())
        QFile::remove(path);
}

QByteArray read_binary_file(const QString& path, bool* ok) {
    QFile file(path);
    const bool opened = file.open(QIODevice::ReadOnly);
    if (ok)
        *ok = opened;
    return opened ? file.readAll() : QByteArray();
}

QString load_text_file(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw QString("Couldn't open file: %1").arg(path);
    const QByteArray bytes = file.readAll();
    const int nul = bytes.indexOf('\0');
    return QString::fromUtf8(nul < 0 ? bytes : bytes.left(nul));
}

QString maybe_use_file_instead_of_resource(const QString& path) { return path; }

QString remove_carriage_returns(const QString& text, QChar c) {
    QString result = text;
    return result.remove(c, Qt::CaseSensitive);
}

void show_resources() {
    QDirIterator it(QStringLiteral(":resources"), QDirIterator::Subdirectories);
    while (it.hasNext())
        qDebug() << it.next();
}

} // namespace support_misc
