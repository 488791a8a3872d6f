// Runs overlap: the tool polls from its worker while a configuration is set up from elsewhere,
// and a station transfers to several units at once. A run holds the state's lock only while it
// reads or changes the shared files (a listing, a switch used up, a memory read or written, a
// configuration set up), so that no run sees, or rebuilds, the state half-way through another's
// change, and no run waits long for it. A simulator run that reads or writes a unit's memory
// also holds that unit's own lock for as long as it lives. A configuration set up meanwhile
// replaces the units whole: a download that began on a replaced unit finds it gone at its end,
// as one whose unit was pulled out does, and writes nothing. The kernel drops a lock when its run
// ends, however it ends.

#include "simulator/program/units.h"

#include "device/fw_info.h"
#include "dfu/dfuse_file.h"
#include "files/support_misc.h"
#include "simulator/program/memory_layout.h"
#include "simulator/program/output.h"
#include "simulator/program/prepared_configurations.h"
#include "simulator/program/state_files.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <csignal>
#include <sys/file.h>
#include <unistd.h>

namespace simulator {

namespace {

constexpr unsigned lock_wait_s = 120; // longer than the slowest simulated download
constexpr int absent_scans = 6;       // about 3 s of the tool's polling

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

namespace {

void on_alarm(int) {}

// Waits for the lock, at most `seconds`: the alarm interrupts the wait (no SA_RESTART). A
// waiter is woken as soon as the lock is free, so that no run is kept out by others that take
// it one after the other.
bool wait_for_lock(int fd, unsigned seconds) {
    struct sigaction on_timeout = {};
    on_timeout.sa_handler = on_alarm;
    sigemptyset(&on_timeout.sa_mask);
    struct sigaction before = {};
    ::sigaction(SIGALRM, &on_timeout, &before);
    ::alarm(seconds);
    const int locked = ::flock(fd, LOCK_EX);
    ::alarm(0);
    ::sigaction(SIGALRM, &before, nullptr);
    return locked == 0;
}

// Opens the lock file and takes its lock, waiting at most lock_wait_s.
void take_lock(QFile& lock, const QString& path) {
    if (!lock.isOpen()) {
        lock.setFileName(path);
        if (!lock.open(QIODevice::Append))
            usage_error("cannot open the lock file " + path);
    }
    if (!wait_for_lock(lock.handle(), lock_wait_s))
        fail(ex_ioerr,
             QStringLiteral("the simulated units are busy: another run has held %1 for %2 s")
                 .arg(path)
                 .arg(lock_wait_s));
}

} // namespace

Units::Hold::Hold(const Units& units) : units_(units) {
    if (units_.holds_ > 0) {
        ++units_.holds_;
        return;
    }
    if (!QDir().mkpath(units_.dir_))
        usage_error("cannot create the state directory " + units_.dir_);
    take_lock(units_.state_lock_, units_.dir_ + '/' + state_file::lock);
    units_.holds_ = 1;
}

Units::Hold::~Hold() {
    if (--units_.holds_ == 0)
        ::flock(units_.state_lock_.handle(), LOCK_UN);
}

void Units::lock_unit(const Unit& unit) {
    if (unit_locks_ && QFileInfo(folder(unit.id)).isDir())
        take_lock(unit_lock_, file(unit.id, unit_file::lock));
}

bool Units::set_up(const QString& name) {
    if (!configuration_names().contains(name))
        return false;
    const Hold hold(*this);
    const QString units = dir_ + '/' + state_file::units;
    const QString fresh = units + ".new";
    QDir(fresh).removeRecursively();
    if (!QDir().mkpath(fresh))
        usage_error("cannot create " + fresh);
    const QStringList order = write_configuration(name, fresh);
    QDir(units).removeRecursively();
    if (!QDir().rename(fresh, units))
        usage_error("cannot replace " + units);
    write_order(order);
    write(dir_ + '/' + state_file::config, name.toUtf8() + '\n');
    return true;
}

void Units::ensure_configuration() {
    const Hold hold(*this);
    if ((!QFileInfo(dir_ + '/' + state_file::config).isFile() ||
         !QFileInfo(dir_ + '/' + state_file::units).isDir()) &&
        !set_up("older_revision"))
        usage_error("cannot set up older_revision in " + dir_);
}

std::vector<Unit> Units::attached(bool scan) {
    const Hold hold(*this);
    std::vector<Unit> units;
    const QStringList ids = order();
    for (int place = 0; place < ids.size(); ++place) {
        const auto read = [this, &ids, place](const char* name) {
            return first_line(file(ids[place], name));
        };
        Unit unit{ids[place], read(unit_file::serial), read(unit_file::devnum).toInt(),
                  read(unit_file::path), read(unit_file::plug)};
        if (unit.serial.isEmpty())
            unit = {unit.id, unit.id, 5 + place, QStringLiteral("1-%1").arg(place + 1), {}};
        const int absent = read(unit_file::absent_scans).toInt();
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

// A unit's own file or switch, or a test's shared switch asked once a run, however often the
// run asks.
bool Units::denied(const Unit& unit) {
    if (!denied_)
        denied_ = on("deny_access");
    return *denied_ || QFileInfo::exists(file(unit.id, unit_file::no_access)) ||
           use_up(file(unit.id, "deny_access"));
}
bool Units::claimed(const Unit& unit) {
    if (!claimed_)
        claimed_ = on("busy");
    return *claimed_ || use_up(file(unit.id, unit_file::busy));
}

QByteArray Units::memory(const Unit& unit, int alt) const {
    const char* names[alt_count] = {unit_file::flash, unit_file::option_bytes, unit_file::otp, ""};
    const Hold hold(*this);
    return alt < 3 ? support_misc::read_binary_file(image(unit, names[alt])) : QByteArray();
}

bool Units::store_flash(const Unit& unit, const QByteArray& image_bytes) {
    const Hold hold(*this);
    if (gone(unit))
        return false;
    write_flash(unit, image_bytes);
    return true;
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
    const Hold hold(*this);
    const QString kind = first_line(file(unit.id, unit_file::flash_pending));
    if (kind.isEmpty())
        return;
    QString source;
    QByteArray flash = desired_flash(transfer_file, &source);
    if (kind == "older") {
        const QString desired = flash.isNull() ? QString() : Device::make_FW_Info(flash).revision;
        write_flash(unit, older_revision_firmware(desired));
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
    write_flash(unit, flash);
    QFile::remove(file(unit.id, unit_file::flash_pending));
}

UploadFault Units::upload_fault(const Unit& unit, int alt, qint64 address, qint64 length) {
    if (on(alt == otp_alt                            ? "fail_upload_OTP"
           : information_block(alt, address, length) ? "fail_upload_FW_info"
                                                     : "fail_upload_FW",
           unit))
        return UploadFault::error;
    return on("upload_writes_nothing", unit) ? UploadFault::writes_nothing : UploadFault::none;
}

DownloadFault Units::download_fault(const Unit& unit) {
    const std::pair<const char*, DownloadFault> unit_files[] = {
        {unit_file::refuse_erase, DownloadFault::erase_refused},
        {unit_file::lost_during_download, DownloadFault::lost},
        {unit_file::unplugged_during_download, DownloadFault::lost_for_good}};
    for (const auto& [name, fault] : unit_files)
        if (QFileInfo::exists(file(unit.id, name)))
            return fault;
    const std::pair<const char*, DownloadFault> switches[] = {
        {"lose_unit_on_download", DownloadFault::lost_for_good},
        {"fail_download", DownloadFault::error},
        {"refuse_download", DownloadFault::refused},
        {"crash_download", DownloadFault::crash},
        {"download_keeps_flash", DownloadFault::keeps_flash}};
    for (const auto& [name, fault] : switches)
        if (on(name, unit))
            return fault;
    return DownloadFault::none;
}

// Unplugged while a page was erased: what was written stays, as on a real unit, and it is away
// for a few scans, or for good.
void Units::lose(const Unit& unit, const QByteArray& flash_now, DownloadFault how) {
    const Hold hold(*this);
    if (gone(unit))
        return;
    write_flash(unit, flash_now); // as a real unit keeps the pages written before it went
    if (how != DownloadFault::lost) {
        QStringList ids = order();
        ids.removeAll(unit.id);
        write_order(ids);
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

QString Units::folder(const QString& id) const {
    return dir_ + '/' + state_file::units + '/' + id;
}
QString Units::file(const QString& id, const QString& name) const {
    return folder(id) + '/' + name;
}

QString Units::image(const Unit& unit, const char* name) const {
    const bool own = QFileInfo::exists(file(unit.id, name)) ||
                     (!exists(name) && QFileInfo(folder(unit.id)).isDir());
    return own ? file(unit.id, name) : dir_ + '/' + name;
}

void Units::write_flash(const Unit& unit, const QByteArray& image_bytes) {
    write(image(unit, unit_file::flash), image_bytes);
}

// Since the run found it, it was pulled out, or its folder came to hold another plug-in or
// none (a configuration set up, another unit plugged in at its port).
bool Units::gone(const Unit& unit) const {
    return !order().contains(unit.id) || first_line(file(unit.id, unit_file::plug)) != unit.plug;
}

QStringList Units::order() const {
    return QString::fromUtf8(support_misc::read_binary_file(dir_ + '/' + state_file::order))
        .split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

void Units::write_order(const QStringList& ids) {
    write(dir_ + '/' + state_file::order, ids.join(' ').toUtf8() + '\n');
}

bool Units::on(const QString& name) {
    return use_up(dir_ + '/' + name);
}
bool Units::on(const QString& name, const Unit& unit) {
    return use_up(file(unit.id, name)) || on(name);
}

// Uses up one run of a counted switch.
bool Units::use_up(const QString& path) {
    const Hold hold(*this);
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
