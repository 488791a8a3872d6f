#include "history/store.h"

#include "history/sql.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>
#include <QVariant>

#include <atomic>
#include <cerrno>
#include <sys/stat.h>

namespace History {

namespace {

std::atomic<int> connections_made{0};

// Long enough for another program's commit (one row, one fsync); a row that still finds the
// record busy waits in the recorder's queue instead.
constexpr int busy_timeout_ms = 500;

using Kind = Trouble::Kind;

// Where a file that is not a usable record is kept: its name, the time, and a number when
// that name is taken already.
QString aside_name(const QString& path) {
    const QString base =
        path + QStringLiteral(".damaged-") +
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString name = base;
    for (int n = 2; QFileInfo::exists(name); ++n)
        name = base + QLatin1Char('-') + QString::number(n);
    return name;
}

// The system's reason why the directory cannot be made (mkpath gives none).
QString why_no_directory(const QString& dir) {
    const int error = ::mkdir(QFile::encodeName(dir).constData(), 0700) == 0 ? 0 : errno;
    return dir + QStringLiteral(": ") + qt_error_string(error);
}

Trouble trouble_of(const RecordLock& lock) {
    return {lock.is_contended() ? Kind::busy : Kind::unavailable, lock.why()};
}

} // namespace

QString default_path(bool simulator) {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           (simulator ? QStringLiteral("/history-simulator.sqlite")
                      : QStringLiteral("/history.sqlite"));
}

Store::Store(QString path)
    : path_(std::move(path)), connection_(QStringLiteral("history-%1").arg(++connections_made)) {}

Store::~Store() {
    close();
}

QSqlDatabase Store::database() const {
    return QSqlDatabase::database(connection_, false);
}

void Store::close() {
    if (QSqlDatabase::contains(connection_)) {
        database().close();
        QSqlDatabase::removeDatabase(connection_);
    }
    open_ = false;
}

// Opens the file at the path, with the lock already held by the caller.
Trouble Store::connect_unlocked() {
    close();
    opened_ = identity_of(path_);
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(path_);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busy_timeout_ms));
    if (!db.open())
        return sql::trouble_of(db.lastError());
    // Before anything that could change the file: a record of a newer version stays as it is.
    if (Trouble t = check_version(db))
        return t;
    QSqlQuery q(db);
    for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL"})
        if (Trouble t = sql::run(q, QLatin1String(pragma)))
            return t;
    q.finish();
    if (Trouble t = prepare_schema(db))
        return t;
    open_ = true;
    return {};
}

Trouble Store::connect() {
    const QString dir = QFileInfo(path_).absolutePath();
    if (!QDir().mkpath(dir))
        return {Kind::unavailable, why_no_directory(dir)};
    const RecordLock lock(path_, RecordLock::Mode::shared);
    if (!lock.is_held())
        return trouble_of(lock);
    const Trouble trouble = connect_unlocked();
    if (trouble)
        close();
    return trouble;
}

Trouble Store::open(QString* moved_aside_to) {
    const Trouble trouble = connect();
    if (trouble.kind != Kind::damaged)
        return trouble;
    return move_aside(moved_aside_to);
}

// Under the exclusive lock: when the path names another file than the damaged one, another
// program has moved it and begun a new record already. Its journal belongs to it, not to the
// new record.
Trouble Store::move_aside(QString* moved_aside_to) {
    const FileIdentity damaged = opened_;
    close();
    const RecordLock lock(path_, RecordLock::Mode::exclusive);
    if (!lock.is_held())
        return trouble_of(lock);
    if (!(identity_of(path_) == damaged))
        return connect_unlocked();
    const QString aside = aside_name(path_);
    QFile file(path_);
    if (!file.rename(aside))
        return {Kind::unavailable, path_ + QStringLiteral(": ") + file.errorString()};
    for (const char* suffix : {"-wal", "-shm"})
        QFile::rename(path_ + QLatin1String(suffix), aside + QLatin1String(suffix));
    *moved_aside_to = aside;
    const Trouble trouble = connect_unlocked();
    if (trouble)
        close();
    return trouble;
}

// Another program moved the file this connection has open aside: the record is the new one.
Trouble Store::reopen_if_moved() {
    if (open_ && identity_of(path_) == opened_)
        return {};
    return connect_unlocked();
}

} // namespace History
