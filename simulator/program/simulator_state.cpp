#include "simulator/program/simulator_state.h"

#include "dfu/dfuse_file.h"
#include "files/support_misc.h"
#include "simulator/program/memory_layout.h"
#include "simulator/program/output.h"
#include "simulator/program/prepared_configurations.h"
#include "simulator/program/state_file.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <sys/file.h>
#include <thread>

namespace simulator {

namespace {

constexpr int lock_wait_s = 120;
constexpr int absent_scans = 6;
// A unit writes about 16 bytes per millisecond and reads about 270.
constexpr qint64 download_bytes_per_ms = 16;
constexpr qint64 upload_bytes_per_ms = 270;

QString state_dir() {
    const QString named = qEnvironmentVariable("ORVANTA_SIMULATOR_STATE_DIR");
    if (!named.isEmpty())
        return named;
    QString base = qEnvironmentVariable("XDG_STATE_HOME");
    if (base.isEmpty())
        base = qEnvironmentVariable("HOME") + QStringLiteral("/.local/state");
    return base + QStringLiteral("/orvanta-dfu-simulator");
}

// The first line of a small file; empty when it is missing.
QString read_value(const QString& path) {
    return QString::fromUtf8(support_misc::read_binary_file(path))
        .section(QLatin1Char('\n'), 0, 0)
        .trimmed();
}

void write_bytes(const QString& path, const QByteArray& bytes) {
    if (!replace_file(path, bytes))
        usage_error(QStringLiteral("cannot write %1").arg(path));
}

// The desired firmware's flash image, or a null array.
QByteArray desired_flash(const QString& source) {
    const DFU::DfuSe::File file = DFU::DfuSe::parse(support_misc::read_binary_file(source));
    return file.valid ? DFU::DfuSe::element_at(file, flash_base) : QByteArray();
}

} // namespace

SimulatorState::SimulatorState(bool fast) : dir_(state_dir()), fast_(fast) {}

void SimulatorState::lock() {
    if (!QDir().mkpath(dir_))
        usage_error(QStringLiteral("cannot create the state directory %1").arg(dir_));
    lock_.setFileName(dir_ + QStringLiteral("/lock"));
    if (!lock_.open(QIODevice::Append))
        usage_error(QStringLiteral("cannot open the lock file %1").arg(lock_.fileName()));
    QElapsedTimer waited;
    waited.start();
    while (::flock(lock_.handle(), LOCK_EX | LOCK_NB) != 0) {
        if ((errno != EWOULDBLOCK && errno != EINTR) || waited.elapsed() > lock_wait_s * 1000)
            fail(ex_ioerr,
                 QStringLiteral("the simulated units are busy: another run has held %1 for %2 s")
                     .arg(lock_.fileName())
                     .arg(lock_wait_s));
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
}

void SimulatorState::ensure_configuration() {
    if (!QFileInfo(dir_ + QStringLiteral("/config")).isFile() || !QFileInfo(units_dir()).isDir()) {
        if (!set_up(default_configuration))
            usage_error(QStringLiteral("cannot set up %1 in %2").arg(default_configuration, dir_));
    }
}

bool SimulatorState::set_up(const QString& name) {
    const QString fresh = units_dir() + QStringLiteral(".new");
    QDir(fresh).removeRecursively();
    if (!QDir().mkpath(fresh))
        usage_error(QStringLiteral("cannot create %1").arg(fresh));
    const std::optional<QStringList> order = write_configuration(name, fresh);
    if (!order) {
        QDir(fresh).removeRecursively();
        return false;
    }
    QDir(units_dir()).removeRecursively();
    if (!QDir().rename(fresh, units_dir()))
        usage_error(QStringLiteral("cannot replace %1").arg(units_dir()));
    write_bytes(dir_ + QStringLiteral("/order"), order->join(QLatin1Char(' ')).toUtf8() + '\n');
    write_bytes(dir_ + QStringLiteral("/config"), name.toUtf8() + '\n');
    return true;
}

QString SimulatorState::units_dir() const {
    return dir_ + QStringLiteral("/units");
}

QString SimulatorState::unit_path(const Unit& unit, const char* name) const {
    return units_dir() + QLatin1Char('/') + unit.id + QLatin1Char('/') + QLatin1String(name);
}

bool SimulatorState::has(const Unit& unit, const char* name) const {
    return QFileInfo::exists(unit_path(unit, name));
}

std::vector<Unit> SimulatorState::attached(bool scan) {
    std::vector<Unit> units;
    const QStringList order =
        read_value(dir_ + QStringLiteral("/order")).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& id : order) {
        Unit unit{id, QString(), 0, QString()};
        if (!QFileInfo(units_dir() + QLatin1Char('/') + id).isDir())
            continue;
        const int absent = read_value(unit_path(unit, unit_file::absent_scans)).toInt();
        if (absent > 0) {
            if (scan && absent > 1) {
                write_bytes(unit_path(unit, unit_file::absent_scans),
                            QByteArray::number(absent - 1) + '\n');
            } else if (scan) {
                // Back again: plugged in anew, so it gets a new address.
                QFile::remove(unit_path(unit, unit_file::absent_scans));
                const int devnum = read_value(unit_path(unit, unit_file::devnum)).toInt();
                write_bytes(unit_path(unit, unit_file::devnum),
                            QByteArray::number(devnum + 1) + '\n');
            }
            continue;
        }
        unit.serial = read_value(unit_path(unit, unit_file::serial));
        unit.devnum = read_value(unit_path(unit, unit_file::devnum)).toInt();
        unit.path = read_value(unit_path(unit, unit_file::path));
        units.push_back(unit);
    }
    return units;
}

bool SimulatorState::denied(const Unit& unit) {
    return has(unit, unit_file::no_access);
}
bool SimulatorState::claimed(const Unit& unit) {
    return has(unit, unit_file::busy);
}

QByteArray SimulatorState::memory(const Unit& unit, int alt) {
    switch (alt) {
    case flash_alt: return support_misc::read_binary_file(unit_path(unit, unit_file::flash));
    case option_bytes_alt:
        return support_misc::read_binary_file(unit_path(unit, unit_file::option_bytes));
    case otp_alt: return support_misc::read_binary_file(unit_path(unit, unit_file::otp));
    default: return QByteArray();
    }
}

void SimulatorState::store_flash(const Unit& unit, const QByteArray& image) {
    write_bytes(unit_path(unit, unit_file::flash), image);
}

void SimulatorState::prepare_flash(const Unit& unit, const QString& file) {
    if (!has(unit, unit_file::flash_pending))
        return;
    QString source = qEnvironmentVariable("ORVANTA_SIMULATOR_DESIRED_DFU");
    if (source.isEmpty() || !QFileInfo(source).isFile())
        source = QFileInfo(file).absolutePath() + QStringLiteral("/firmware.dfu");
    QByteArray flash = desired_flash(source);
    if (flash.isNull()) {
        err(QStringLiteral(
                "%1: cannot learn the desired firmware (no readable %2); the flash reads erased\n")
                .arg(program_name(), source));
        return;
    }
    if (read_value(unit_path(unit, unit_file::flash_pending)) == QLatin1String("desired_changed")) {
        // A few bytes after the information block differ; the block itself is unchanged.
        for (const int offset : {4096, 131072, 389120})
            if (offset < flash.size())
                flash[offset] = static_cast<char>(flash[offset] ^ 0xA5);
    }
    store_flash(unit, flash);
    QFile::remove(unit_path(unit, unit_file::flash_pending));
}

DownloadFault SimulatorState::download_fault(const Unit& unit) {
    if (has(unit, unit_file::fail_download))
        return DownloadFault::erase_refused;
    if (has(unit, unit_file::lost_during_download))
        return DownloadFault::lost;
    return DownloadFault::none;
}

void SimulatorState::lose(const Unit& unit, const QByteArray& flash) {
    store_flash(unit, flash);
    QFile::remove(unit_path(unit, unit_file::lost_during_download));
    write_bytes(unit_path(unit, unit_file::absent_scans), QByteArray::number(absent_scans) + '\n');
}

qint64 SimulatorState::upload_ms(int, qint64, qint64 bytes) {
    return fast_ ? 0 : bytes / upload_bytes_per_ms;
}

qint64 SimulatorState::download_ms(qint64 bytes) {
    return fast_ ? 0 : bytes / download_bytes_per_ms;
}

} // namespace simulator
