// Runs may overlap (the tool polls from its worker while a configuration is set up from
// elsewhere): each simulator run holds the lock for as long as it lives, so that no run sees, or
// rebuilds, the state half-way through another's change. The kernel drops the lock when the run
// ends, however it ends.

#include "simulator/program/units.h"

#include "device/fw_info.h"
#include "dfu/dfuse_file.h"
#include "files/support_misc.h"
#include "simulator/program/memory_layout.h"
#include "simulator/program/output.h"
#include "simulator/program/prepared_configurations.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QRegularExpression>

#include <cerrno>
#include <chrono>
#include <sys/file.h>
#include <thread>

namespace simulator {

namespace {

constexpr int lock_wait_s = 120; // longer than the slowest simulated download
constexpr int absent_scans = 6;  // about 3 s of the tool's polling

QString first_line(const QString& path) {
    return QString::fromUtf8(support_misc::read_binary_file(path)).section('\n', 0, 0).trimmed();
}

void write(const QString& path, const QByteArray& bytes) {
    if (!replace_file(path, bytes))
        usage_error("cannot write " + path);
}

// The read of the firmware information block.
bool information_block(int alt, qint64 address, qint64 length) {
    using namespace Device::memory_map;
    return alt == flash_alt && address == fw_info_address && length == fw_info_length;
}

} // namespace

void Units::lock() {
    if (!QDir().mkpath(dir_))
        usage_error("cannot create the state directory " + dir_);
    lock_.setFileName(dir_ + "/lock");
    if (!lock_.open(QIODevice::Append))
        usage_error("cannot open the lock file " + lock_.fileName());
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

bool Units::set_up(const QString& name) {
    if (!configuration_names().contains(name))
        return false;
    const QString units = dir_ + "/units";
    const QString fresh = units + ".new";
    QDir(fresh).removeRecursively();
    if (!QDir().mkpath(fresh))
        usage_error("cannot create " + fresh);
    const QStringList order = write_configuration(name, fresh);
    QDir(units).removeRecursively();
    if (!QDir().rename(fresh, units))
        usage_error("cannot replace " + units);
    write(dir_ + "/order", order.join(' ').toUtf8() + '\n');
    write(dir_ + "/config", name.toUtf8() + '\n');
    return true;
}

void Units::ensure_configuration() {
    if ((!QFileInfo(dir_ + "/config").isFile() || !QFileInfo(dir_ + "/units").isDir()) &&
        !set_up("older_revision"))
        usage_error("cannot set up older_revision in " + dir_);
}

std::vector<Unit> Units::attached(bool scan) {
    std::vector<Unit> units;
    const QStringList ids = order();
    for (int place = 0; place < ids.size(); ++place) {
        Unit unit{ids[place], first_line(file(ids[place], unit_file::serial)),
                  first_line(file(ids[place], unit_file::devnum)).toInt(),
                  first_line(file(ids[place], unit_file::path))};
        if (unit.serial.isEmpty())
            unit = {unit.id, unit.id, 5 + place, QStringLiteral("1-%1").arg(place + 1)};
        const int absent = first_line(file(unit.id, unit_file::absent_scans)).toInt();
        if (absent == 0) {
            units.push_back(unit);
        } else if (scan && absent > 1) {
            write(file(unit.id, unit_file::absent_scans), QByteArray::number(absent - 1) + '\n');
        } else if (scan) { // back again: plugged in anew, so it gets a new address
            QFile::remove(file(unit.id, unit_file::absent_scans));
            write(file(unit.id, unit_file::devnum), QByteArray::number(unit.devnum + 1) + '\n');
        }
    }
    return units;
}

std::optional<QByteArray> Units::verbatim_listing() const {
    return exists("listing") ? std::optional(support_misc::read_binary_file(dir_ + "/listing"))
                             : std::nullopt;
}

// A unit's own file, or a test's switch asked once a run, however often the run asks.
bool Units::denied(const Unit& unit) {
    if (!denied_)
        denied_ = on("deny_access");
    return *denied_ || QFileInfo::exists(file(unit.id, unit_file::no_access));
}
bool Units::claimed(const Unit& unit) {
    if (!claimed_)
        claimed_ = on("busy");
    return *claimed_ || QFileInfo::exists(file(unit.id, unit_file::busy));
}

QByteArray Units::memory(const Unit& unit, int alt) const {
    const char* names[alt_count] = {unit_file::flash, unit_file::option_bytes, unit_file::otp, ""};
    return alt < 3 ? support_misc::read_binary_file(image(unit, names[alt])) : QByteArray();
}

void Units::store_flash(const Unit& unit, const QByteArray& image_bytes) {
    write(image(unit, unit_file::flash), image_bytes);
}

// The desired firmware's image: the element at the flash's start of the DfuSe file named by
// ORVANTA_SIMULATOR_DESIRED_DFU or else of the "firmware.dfu" beside the transfer's file; null
// when neither can be read.
namespace {
QByteArray desired_flash(const QString& transfer_file, QString* source_used) {
    QString source = qEnvironmentVariable("ORVANTA_SIMULATOR_DESIRED_DFU");
    if (source.isEmpty() || !QFileInfo(source).isFile())
        source = QFileInfo(transfer_file).absolutePath() + "/firmware.dfu";
    *source_used = source;
    const DFU::DfuSe::File dfu = DFU::DfuSe::parse(support_misc::read_binary_file(source));
    return dfu.valid ? DFU::DfuSe::element_at(dfu, flash_base) : QByteArray();
}
} // namespace

// Learns the desired firmware for a unit that should hold it, or one of another revision. A
// unit of another revision holds one at once, and follows the desired firmware once known.
void Units::prepare_flash(const Unit& unit, const QString& transfer_file) {
    const QString kind = first_line(file(unit.id, unit_file::flash_pending));
    if (kind.isEmpty())
        return;
    QString source;
    QByteArray flash = desired_flash(transfer_file, &source);
    if (kind == "older") {
        const QString desired = flash.isNull() ? QString() : Device::make_FW_Info(flash).revision;
        store_flash(unit, older_revision_firmware(desired));
        if (!flash.isNull())
            QFile::remove(file(unit.id, unit_file::flash_pending));
        return;
    }
    if (flash.isNull()) {
        err(program_name + ": cannot learn the desired firmware (no readable " + source +
            "); the flash reads erased\n");
        return;
    }
    for (const int at : {4096, 131072, 389120}) // the information block stays as it is
        if (kind == "desired_changed" && at < flash.size())
            flash[at] = static_cast<char>(flash[at] ^ 0xA5);
    store_flash(unit, flash);
    QFile::remove(file(unit.id, unit_file::flash_pending));
}

UploadFault Units::upload_fault(int alt, qint64 address, qint64 length) {
    if (on(alt == otp_alt                            ? "fail_upload_OTP"
           : information_block(alt, address, length) ? "fail_upload_FW_info"
                                                     : "fail_upload_FW"))
        return UploadFault::error;
    return on("upload_writes_nothing") ? UploadFault::writes_nothing : UploadFault::none;
}

DownloadFault Units::download_fault(const Unit& unit) {
    if (QFileInfo::exists(file(unit.id, unit_file::fail_download)))
        return DownloadFault::erase_refused;
    if (QFileInfo::exists(file(unit.id, unit_file::lost_during_download)))
        return DownloadFault::lost;
    const std::pair<const char*, DownloadFault> switches[] = {
        {"lose_unit_on_download", DownloadFault::unplugged},
        {"fail_download", DownloadFault::error},
        {"refuse_download", DownloadFault::refused},
        {"crash_download", DownloadFault::crash},
        {"download_keeps_flash", DownloadFault::keeps_flash}};
    for (const auto& [name, fault] : switches)
        if (on(name))
            return fault;
    return DownloadFault::none;
}

// Unplugged while a page was erased: what was written stays, and it is away for a few scans;
// or, for a test, it stays away.
void Units::lose(const Unit& unit, const QByteArray& flash_now, DownloadFault how) {
    store_flash(unit, flash_now);
    if (how == DownloadFault::unplugged) {
        QStringList ids = order();
        ids.removeAll(unit.id);
        write(dir_ + "/order", ids.join(' ').toUtf8() + '\n');
        return;
    }
    QFile::remove(file(unit.id, unit_file::lost_during_download));
    write(file(unit.id, unit_file::absent_scans), QByteArray::number(absent_scans) + '\n');
}

// A unit reads about 270 bytes a millisecond and writes about 16.
qint64 Units::upload_ms(int alt, qint64 address, qint64 bytes) const {
    if (exists("upload_seconds"))
        return alt == otp_alt || information_block(alt, address, bytes)
                   ? 0
                   : 1000 * first_line(dir_ + "/upload_seconds").toLongLong();
    return fast_ ? 0 : bytes / 270;
}
qint64 Units::download_ms(qint64 bytes) const {
    if (exists("download_seconds"))
        return 1000 * first_line(dir_ + "/download_seconds").toLongLong();
    return fast_ ? 0 : bytes / 16;
}

bool Units::exists(const QString& name) const {
    return QFileInfo::exists(dir_ + '/' + name);
}

QString Units::file(const QString& id, const char* name) const {
    return dir_ + "/units/" + id + '/' + name;
}

QString Units::image(const Unit& unit, const char* name) const {
    const bool own = QFileInfo::exists(file(unit.id, name)) ||
                     (!exists(name) && QFileInfo(dir_ + "/units/" + unit.id).isDir());
    return own ? file(unit.id, name) : dir_ + '/' + name;
}

QStringList Units::order() const {
    return QString::fromUtf8(support_misc::read_binary_file(dir_ + "/order"))
        .split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

// Uses up one run of a counted switch.
bool Units::on(const QString& name) {
    const QString path = dir_ + '/' + name;
    bool counted = false;
    const int n = first_line(path).toInt(&counted);
    if (!QFileInfo::exists(path) || !counted)
        return QFileInfo::exists(path);
    if (n > 1)
        return replace_file(path, QByteArray::number(n - 1) + '\n');
    QFile::remove(path);
    return n == 1;
}

} // namespace simulator
