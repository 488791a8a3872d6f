#include "history/record_lock.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace History {

namespace {
// Another program holds it only for one row's transaction or one move: a few short tries.
constexpr int tries = 20;
constexpr useconds_t pause_us = 5000;
} // namespace

RecordLock::RecordLock(const QString& record_path, Mode mode) {
    const QByteArray name = QFile::encodeName(record_path + QStringLiteral(".lock"));
    fd = ::open(name.constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        why_ = record_path + QStringLiteral(".lock: ") + qt_error_string(errno);
        return;
    }
    const int operation = (mode == Mode::shared ? LOCK_SH : LOCK_EX) | LOCK_NB;
    for (int i = 0; i < tries; ++i) {
        if (::flock(fd, operation) == 0)
            return;
        if (errno != EWOULDBLOCK && errno != EINTR)
            break;
        ::usleep(pause_us);
    }
    contended_ = errno == EWOULDBLOCK;
    why_ = record_path + QStringLiteral(".lock: ") + qt_error_string(errno);
    ::close(fd);
    fd = -1;
}

RecordLock::~RecordLock() {
    if (fd >= 0)
        ::close(fd); // releases the lock
}

FileIdentity identity_of(const QString& path) {
    struct stat s {};
    if (::stat(QFile::encodeName(path).constData(), &s) != 0)
        return {};
    return {static_cast<quint64>(s.st_dev), static_cast<quint64>(s.st_ino)};
}

} // namespace History
