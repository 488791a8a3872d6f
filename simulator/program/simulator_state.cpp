// The simulator's state between runs, in the state directory (ORVANTA_SIMULATOR_STATE_DIR, by
// default ${XDG_STATE_HOME:-$HOME/.local/state}/orvanta-dfu-simulator):
//   config   the name of the configuration in use; missing: the default is set up
//   order    the serials of the attached units, in listing order
//   units/   a folder per unit (prepared_configurations.h)
//   lock     held (flock) by the run that uses the state
// Runs may overlap (the tool polls from its worker while a configuration is set up from
// elsewhere): each run holds the lock for as long as it lives, so that no run sees, or
// rebuilds, the state half-way through another's change. The kernel drops the lock when the run
// ends, however it ends.

#include "dfu/dfuse_file.h"
#include "files/support_misc.h"
#include "simulator/program/commands.h"
#include "simulator/program/memory_layout.h"
#include "simulator/program/output.h"
#include "simulator/program/prepared_configurations.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <chrono>
#include <sys/file.h>
#include <thread>

namespace simulator {

namespace {

constexpr int lock_wait_s = 120; // longer than the slowest simulated download
constexpr int absent_scans = 6;  // about 3 s of the tool's polling

QString state_dir() {
    const QString named = qEnvironmentVariable("ORVANTA_SIMULATOR_STATE_DIR");
    if (!named.isEmpty())
        return named;
    const QString base = qEnvironmentVariable("XDG_STATE_HOME");
    return (base.isEmpty() ? qEnvironmentVariable("HOME") + "/.local/state" : base) +
           "/orvanta-dfu-simulator";
}

QString first_line(const QString& path) {
    return QString::fromUtf8(support_misc::read_binary_file(path)).section('\n', 0, 0).trimmed();
}

void write(const QString& path, const QByteArray& bytes) {
    if (!replace_file(path, bytes))
        usage_error("cannot write " + path);
}

class SimulatorState : public Units {
public:
    explicit SimulatorState(bool fast) : fast_(fast) {}

    void lock() {
        if (!QDir().mkpath(dir_))
            usage_error("cannot create the state directory " + dir_);
        lock_.setFileName(dir_ + "/lock");
        if (!lock_.open(QIODevice::Append))
            usage_error("cannot open the lock file " + lock_.fileName());
        QElapsedTimer waited;
        waited.start();
        while (::flock(lock_.handle(), LOCK_EX | LOCK_NB) != 0) {
            if ((errno != EWOULDBLOCK && errno != EINTR) || waited.elapsed() > lock_wait_s * 1000)
                fail(ex_ioerr, QStringLiteral(
                                   "the simulated units are busy: another run has held %1 for %2 s")
                                   .arg(lock_.fileName())
                                   .arg(lock_wait_s));
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    }

    // False for an unknown name.
    bool set_up(const QString& name) {
        const QString fresh = units_dir() + ".new";
        QDir(fresh).removeRecursively();
        if (!QDir().mkpath(fresh))
            usage_error("cannot create " + fresh);
        const std::optional<QStringList> order = write_configuration(name, fresh);
        if (!order) {
            QDir(fresh).removeRecursively();
            return false;
        }
        QDir(units_dir()).removeRecursively();
        if (!QDir().rename(fresh, units_dir()))
            usage_error("cannot replace " + units_dir());
        write(dir_ + "/order", order->join(' ').toUtf8() + '\n');
        write(dir_ + "/config", name.toUtf8() + '\n');
        return true;
    }

    void ensure_configuration() {
        if ((!QFileInfo(dir_ + "/config").isFile() || !QFileInfo(units_dir()).isDir()) &&
            !set_up("older_revision"))
            usage_error("cannot set up older_revision in " + dir_);
    }

    std::vector<Unit> attached(bool scan) override {
        std::vector<Unit> units;
        for (const QString& id : first_line(dir_ + "/order").split(' ', Qt::SkipEmptyParts)) {
            if (!QFileInfo(units_dir() + '/' + id).isDir())
                continue;
            const Unit unit{id, first_line(file(id, unit_file::serial)),
                            first_line(file(id, unit_file::devnum)).toInt(),
                            first_line(file(id, unit_file::path))};
            const int absent = first_line(file(id, unit_file::absent_scans)).toInt();
            if (absent == 0) {
                units.push_back(unit);
            } else if (scan && absent > 1) {
                write(file(id, unit_file::absent_scans), QByteArray::number(absent - 1) + '\n');
            } else if (scan) { // back again: plugged in anew, so it gets a new address
                QFile::remove(file(id, unit_file::absent_scans));
                write(file(id, unit_file::devnum), QByteArray::number(unit.devnum + 1) + '\n');
            }
        }
        return units;
    }

    bool denied(const Unit& unit) override {
        return QFileInfo::exists(file(unit.id, unit_file::no_access));
    }
    bool claimed(const Unit& unit) override {
        return QFileInfo::exists(file(unit.id, unit_file::busy));
    }

    QByteArray memory(const Unit& unit, int alt) override {
        const char* names[alt_count] = {unit_file::flash, unit_file::option_bytes, unit_file::otp,
                                        ""};
        return alt < 3 ? support_misc::read_binary_file(file(unit.id, names[alt])) : QByteArray();
    }

    void store_flash(const Unit& unit, const QByteArray& image) override {
        write(file(unit.id, unit_file::flash), image);
    }

    // Learns the desired firmware for a unit that should hold it, from the DfuSe file named by
    // ORVANTA_SIMULATOR_DESIRED_DFU or else the "firmware.dfu" beside the transfer's file.
    void prepare_flash(const Unit& unit, const QString& transfer_file) override {
        const QString kind = first_line(file(unit.id, unit_file::flash_pending));
        if (kind.isEmpty())
            return;
        QString source = qEnvironmentVariable("ORVANTA_SIMULATOR_DESIRED_DFU");
        if (source.isEmpty() || !QFileInfo(source).isFile())
            source = QFileInfo(transfer_file).absolutePath() + "/firmware.dfu";
        const DFU::DfuSe::File dfu = DFU::DfuSe::parse(support_misc::read_binary_file(source));
        QByteArray flash = dfu.valid ? DFU::DfuSe::element_at(dfu, flash_base) : QByteArray();
        if (flash.isNull()) {
            err(program_name() + ": cannot learn the desired firmware (no readable " + source +
                "); the flash reads erased\n");
            return;
        }
        for (const int at : {4096, 131072, 389120}) // the information block stays as it is
            if (kind == "desired_changed" && at < flash.size())
                flash[at] = static_cast<char>(flash[at] ^ 0xA5);
        store_flash(unit, flash);
        QFile::remove(file(unit.id, unit_file::flash_pending));
    }

    DownloadFault download_fault(const Unit& unit) override {
        return QFileInfo::exists(file(unit.id, unit_file::fail_download))
                   ? DownloadFault::erase_refused
               : QFileInfo::exists(file(unit.id, unit_file::lost_during_download))
                   ? DownloadFault::lost
                   : DownloadFault::none;
    }

    void lose(const Unit& unit, const QByteArray& flash_now) override {
        store_flash(unit, flash_now);
        QFile::remove(file(unit.id, unit_file::lost_during_download));
        write(file(unit.id, unit_file::absent_scans), QByteArray::number(absent_scans) + '\n');
    }

    // A unit reads about 270 bytes a millisecond and writes about 16.
    qint64 upload_ms(int, qint64, qint64 bytes) override { return fast_ ? 0 : bytes / 270; }
    qint64 download_ms(qint64 bytes) override { return fast_ ? 0 : bytes / 16; }

private:
    QString units_dir() const { return dir_ + "/units"; }
    QString file(const QString& id, const char* name) const {
        return units_dir() + '/' + id + '/' + name;
    }

    const QString dir_ = state_dir();
    QFile lock_;
    const bool fast_;
};

} // namespace

// --dfu-util-command NAME [--fast-progress] [dfu-util arguments...]
int run_simulator(QStringList args) {
    if (args.size() < 2 || args[0] != "--dfu-util-command")
        usage_error("usage: " + program_name() +
                    " --dfu-util-command NAME [--fast-progress] [dfu-util arguments...]");
    const QString command = args[1];
    args = args.mid(2);
    const bool fast = !args.isEmpty() && args.first() == "--fast-progress";
    if (fast)
        args.removeFirst();
    SimulatorState state(fast);
    if (command == "setup_prepared_config") {
        const QString known = configuration_names().join(' ');
        if (args.isEmpty())
            usage_error("setup_prepared_config needs a configuration name, one of: " + known);
        state.lock();
        if (!state.set_up(args.last()))
            usage_error("unknown configuration \"" + args.last() + "\"; known are: " + known);
        say("Simulated configuration: " + args.last());
        return 0;
    }
    if (!QStringList{"version", "list", "upload_OTP", "upload_FW", "download_FW"}.contains(command))
        usage_error("unknown command name \"" + command + '"');
    const Options options = parse_options(args);
    int code = 0;
    if (!start(options, &code))
        return code;
    state.lock();
    state.ensure_configuration();
    return run(options, state);
}

} // namespace simulator
