#include "history/store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QThread>
#include <QVariant>

#include <atomic>
#include <cerrno>
#include <sys/stat.h>

namespace History {

namespace {

std::atomic<int> connections_made{0};

// Long enough for another program's commit (one row, one fsync), short enough for the window.
constexpr int busy_timeout_ms = 3000;

// SQLite's primary result codes: busy, a damaged file, one that is not a database.
constexpr int sqlite_busy = 5;
constexpr int sqlite_corrupt = 11;
constexpr int sqlite_notadb = 26;
// Switching a new record to WAL needs it alone, and two programs may start at once.
constexpr int setup_attempts = 40;
constexpr int setup_pause_ms = 50;

using Problem = Store::Problem;

Problem problem_of(const QSqlError& e) {
    const int code = e.nativeErrorCode().toInt() & 0xff;
    return {e.text(), code == sqlite_corrupt || code == sqlite_notadb, code == sqlite_busy};
}

// Runs one statement; on failure says why.
std::optional<Problem> run(QSqlQuery& q, const QString& sql) {
    if (q.exec(sql))
        return std::nullopt;
    return problem_of(q.lastError());
}

const char* const create_table =
    "CREATE TABLE IF NOT EXISTS upgrades ("
    " id INTEGER PRIMARY KEY, started_at TEXT NOT NULL, ended_at TEXT NOT NULL,"
    " serial TEXT NOT NULL, product TEXT NOT NULL, revision_before TEXT NOT NULL,"
    " revision_after TEXT NOT NULL, firmware_sha256 TEXT NOT NULL, outcome TEXT NOT NULL,"
    " cause TEXT NOT NULL, download_ms INTEGER, readback_ms INTEGER,"
    " tool_version TEXT NOT NULL, host TEXT NOT NULL, user TEXT NOT NULL)";

QString insert_statement() {
    const QStringList columns = column_names().mid(1); // the record gives the id
    QStringList marks;
    for (int i = 0; i < columns.size(); ++i)
        marks << QStringLiteral("?");
    return QStringLiteral("INSERT INTO upgrades (%1) VALUES (%2)")
        .arg(columns.join(QLatin1Char(',')), marks.join(QLatin1Char(',')));
}

// A null QString would be bound as NULL; the text columns hold empty strings instead.
QVariant text(const QString& s) {
    return s.isNull() ? QVariant(QStringLiteral("")) : QVariant(s);
}
QVariant number(const std::optional<qint64>& v) {
    return v ? QVariant(*v) : QVariant(QVariant::LongLong);
}

void bind(QSqlQuery& q, const UpgradeRow& r) {
    q.addBindValue(text(iso_utc(r.started_at)));
    q.addBindValue(text(iso_utc(r.ended_at)));
    for (const QString* s : {&r.serial, &r.product, &r.revision_before, &r.revision_after,
                             &r.firmware_sha256, &r.outcome, &r.cause})
        q.addBindValue(text(*s));
    q.addBindValue(number(r.download_ms));
    q.addBindValue(number(r.readback_ms));
    for (const QString* s : {&r.tool_version, &r.host, &r.user})
        q.addBindValue(text(*s));
}

std::optional<qint64> number_at(const QSqlQuery& q, int i) {
    const QVariant v = q.value(i);
    return v.isNull() ? std::nullopt : std::optional<qint64>(v.toLongLong());
}

UpgradeRow row_at(const QSqlQuery& q) {
    auto time = [&q](int i) {
        return QDateTime::fromString(q.value(i).toString(), Qt::ISODateWithMs);
    };
    auto str = [&q](int i) { return q.value(i).toString(); };
    UpgradeRow r;
    r.id = q.value(0).toLongLong();
    r.started_at = time(1);
    r.ended_at = time(2);
    r.serial = str(3);
    r.product = str(4);
    r.revision_before = str(5);
    r.revision_after = str(6);
    r.firmware_sha256 = str(7);
    r.outcome = str(8);
    r.cause = str(9);
    r.download_ms = number_at(q, 10);
    r.readback_ms = number_at(q, 11);
    r.tool_version = str(12);
    r.host = str(13);
    r.user = str(14);
    return r;
}

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

} // namespace

QString default_path() {
    return QStandardPaths::writableLocation(QStandardPaths::AppDataLocation) +
           QStringLiteral("/history.sqlite");
}

Store::Store(QString path)
    : path_(std::move(path)), connection_(QStringLiteral("history-%1").arg(++connections_made)) {}

Store::~Store() {
    close();
}

void Store::close() {
    if (QSqlDatabase::contains(connection_)) {
        QSqlDatabase::database(connection_, false).close();
        QSqlDatabase::removeDatabase(connection_);
    }
    open_ = false;
}

std::optional<Problem> Store::connect() {
    const QString dir = QFileInfo(path_).absolutePath();
    if (!QDir().mkpath(dir))
        return Problem{why_no_directory(dir), false, false};
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection_);
    db.setDatabaseName(path_);
    db.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=%1").arg(busy_timeout_ms));
    if (!db.open())
        return problem_of(db.lastError());
    QSqlQuery q(db);
    for (const char* pragma : {"PRAGMA journal_mode=WAL", "PRAGMA synchronous=FULL"})
        if (auto p = run(q, QLatin1String(pragma)))
            return p;
    if (auto p = run(q, QStringLiteral("PRAGMA quick_check")))
        return p;
    const QString check = q.next() ? q.value(0).toString() : QString();
    // A statement left unfinished would keep its read snapshot, and a later write on it fails
    // with "database is locked" at once, without waiting for another program's commit.
    q.finish();
    if (check != QLatin1String("ok"))
        return Problem{check, true, false};
    return prepare_schema();
}

// A new record gets the table and its version; an existing one is read as it is.
std::optional<Problem> Store::prepare_schema() {
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    if (auto p = run(q, QStringLiteral("PRAGMA user_version")))
        return p;
    const int version = q.next() ? q.value(0).toInt() : 0;
    q.finish();
    if (version >= schema_version)
        return std::nullopt;
    const QString steps[] = {
        QStringLiteral("BEGIN IMMEDIATE"), QLatin1String(create_table),
        QStringLiteral("CREATE INDEX IF NOT EXISTS upgrades_serial ON upgrades (serial)"),
        QStringLiteral("PRAGMA user_version = %1").arg(schema_version), QStringLiteral("COMMIT")};
    for (const QString& step : steps) {
        if (auto p = run(q, step)) {
            q.exec(QStringLiteral("ROLLBACK"));
            return p;
        }
    }
    return std::nullopt;
}

bool Store::move_aside(Opened* result) {
    close();
    const QString aside = aside_name(path_);
    QFile file(path_);
    if (!file.rename(aside)) {
        result->why = path_ + QStringLiteral(": ") + file.errorString();
        return false;
    }
    // Its journal belongs to it, not to the new record.
    for (const char* suffix : {"-wal", "-shm"})
        QFile::rename(path_ + QLatin1String(suffix), aside + QLatin1String(suffix));
    result->moved_aside_to = aside;
    return true;
}

// The busy timeout does not cover the change of journal mode: tried again for a while.
std::optional<Problem> Store::connect_when_free() {
    std::optional<Problem> problem;
    for (int attempt = 0; attempt < setup_attempts; ++attempt) {
        close();
        problem = connect();
        if (!problem || !problem->busy)
            break;
        QThread::msleep(setup_pause_ms);
    }
    return problem;
}

Store::Opened Store::open() {
    Opened result;
    std::optional<Problem> problem = connect_when_free();
    if (problem && problem->damaged && move_aside(&result))
        problem = connect_when_free();
    if (problem) {
        if (result.why.isEmpty())
            result.why = problem->why;
        close();
        return result;
    }
    open_ = result.ok = true;
    return result;
}

bool Store::append(const UpgradeRow& row, QString* why) {
    if (!open_) {
        *why = QStringLiteral("not open");
        return false;
    }
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    std::optional<Problem> problem = run(q, QStringLiteral("BEGIN IMMEDIATE"));
    if (!problem) {
        q.prepare(insert_statement());
        bind(q, row);
        if (!q.exec())
            problem = problem_of(q.lastError());
        else
            problem = run(q, QStringLiteral("COMMIT"));
        if (problem)
            q.exec(QStringLiteral("ROLLBACK"));
    }
    if (problem)
        *why = problem->why;
    return !problem;
}

std::vector<UpgradeRow> Store::rows(const QString& serial_filter) const {
    std::vector<UpgradeRow> found;
    if (!open_)
        return found;
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare(QStringLiteral("SELECT %1 FROM upgrades WHERE instr(upper(serial), upper(?)) > 0 "
                             "ORDER BY ended_at DESC, id DESC")
                  .arg(column_names().join(QLatin1Char(','))));
    q.addBindValue(text(serial_filter));
    if (q.exec())
        while (q.next())
            found.push_back(row_at(q));
    return found;
}

std::optional<UpgradeRow> Store::last_upgrade(const QString& serial) const {
    if (!open_)
        return std::nullopt;
    QSqlQuery q(QSqlDatabase::database(connection_, false));
    q.prepare(QStringLiteral("SELECT %1 FROM upgrades WHERE serial = ? AND outcome = ? "
                             "ORDER BY ended_at DESC, id DESC LIMIT 1")
                  .arg(column_names().join(QLatin1Char(','))));
    q.addBindValue(text(serial));
    q.addBindValue(outcome_name(Outcome::upgraded));
    if (q.exec() && q.next())
        return row_at(q);
    return std::nullopt;
}

} // namespace History
