// The tests' fake dfu-util: the same dfu-util, with the units and failures that a test sets up
// in the directory named by FAKE_DFU_UTIL_STATE (tests/support/fake_dfu_util.h). Every file is
// optional:
//   runs         each run appends its arguments, separated by 0x1F, as one line, before anything
//   units        the attached units, a serial a line, in listing order (devnum 5, 6, ... and
//                path 1-1, 1-2, ...)
//   listing      printed after the banner in place of the listing lines
//   otp.bin, flash.bin      the images of a unit that has none of its own in <serial>/
//   download_seconds, upload_seconds   how long a -D takes, and an upload other than the OTP
//                area and the 2048-byte information block
// Failure switches, named as FakeDfuUtil::Switch names them: one that exists and is empty always
// applies; one that holds a number N applies to the next N runs it concerns, then goes.

#include "files/support_misc.h"
#include "simulator/program/commands.h"
#include "simulator/program/memory_layout.h"
#include "simulator/program/output.h"

#include <QFile>
#include <QFileInfo>

namespace simulator {

namespace {

class FakeState : public Units {
public:
    explicit FakeState(const QString& dir) : dir_(dir) {}

    // True when the switch applies to this run; uses up one run of a counted switch.
    bool on(const QString& name) {
        const QString path = dir_ + '/' + name;
        bool counted = false;
        const int n = QString::fromUtf8(read(name)).trimmed().toInt(&counted);
        if (!QFileInfo::exists(path) || !counted)
            return QFileInfo::exists(path);
        if (n > 1)
            return replace_file(path, QByteArray::number(n - 1) + '\n');
        QFile::remove(path);
        return n == 1;
    }

    std::vector<Unit> attached(bool) override {
        std::vector<Unit> units;
        for (const QString& serial : serials())
            units.push_back({serial, serial, static_cast<int>(units.size()) + 5,
                             QStringLiteral("1-%1").arg(units.size() + 1)});
        return units;
    }

    std::optional<QByteArray> verbatim_listing() override {
        if (!QFileInfo::exists(dir_ + "/listing"))
            return std::nullopt;
        return read("listing");
    }

    bool listing_fails() override { return on("fail_list"); }
    // Asked once a run, however often the run asks.
    bool denied(const Unit&) override {
        return denied_ ? *denied_ : *(denied_ = on("deny_access"));
    }
    bool claimed(const Unit&) override { return claimed_ ? *claimed_ : *(claimed_ = on("busy")); }

    QByteArray memory(const Unit& unit, int alt) override {
        return alt == otp_alt     ? read(image(unit, "otp.bin"))
               : alt == flash_alt ? read(image(unit, "flash.bin"))
                                  : QByteArray();
    }
    void store_flash(const Unit& unit, const QByteArray& bytes) override {
        replace_file(dir_ + '/' + image(unit, "flash.bin"), bytes);
    }

    UploadFault upload_fault(const Unit&, int alt, qint64 address, qint64 length) override {
        if (on(alt == otp_alt                            ? "fail_upload_OTP"
               : information_block(alt, address, length) ? "fail_upload_FW_info"
                                                         : "fail_upload_FW"))
            return UploadFault::error;
        return on("upload_writes_nothing") ? UploadFault::writes_nothing : UploadFault::none;
    }
    bool failed_upload_leaves_file() override {
        return QFileInfo::exists(dir_ + "/upload_leaves_empty_file");
    }

    DownloadFault download_fault(const Unit&) override {
        const std::pair<const char*, DownloadFault> switches[] = {
            {"lose_unit_on_download", DownloadFault::lost},
            {"fail_download", DownloadFault::error},
            {"refuse_download", DownloadFault::refused},
            {"crash_download", DownloadFault::crash},
            {"download_keeps_flash", DownloadFault::keeps_flash}};
        for (const auto& [name, fault] : switches)
            if (on(name))
                return fault;
        return DownloadFault::none;
    }

    // Unplugged: it leaves `units`, its flash as it was.
    void lose(const Unit& unit, const QByteArray&) override {
        QByteArray left;
        for (const QString& serial : serials())
            if (serial != unit.serial)
                left += serial.toUtf8() + '\n';
        replace_file(dir_ + "/units", left);
    }

    qint64 upload_ms(int alt, qint64 address, qint64 bytes) override {
        return alt == otp_alt || information_block(alt, address, bytes) ? 0
                                                                        : seconds("upload_seconds");
    }
    qint64 download_ms(qint64) override { return seconds("download_seconds"); }

private:
    static bool information_block(int alt, qint64 address, qint64 length) {
        return alt == flash_alt && address == flash_base && length == 2048;
    }
    QByteArray read(const QString& name) const {
        return support_misc::read_binary_file(dir_ + '/' + name);
    }
    // Its own image if it has one, else the shared one.
    QString image(const Unit& unit, const QString& name) const {
        return QFileInfo::exists(dir_ + '/' + unit.serial + '/' + name) ? unit.serial + '/' + name
                                                                        : name;
    }
    QStringList serials() const {
        return QString::fromUtf8(read("units"))
            .split('\n', Qt::SkipEmptyParts)
            .replaceInStrings("\r", "");
    }
    qint64 seconds(const QString& name) const {
        return 1000 * QString::fromUtf8(read(name)).trimmed().toLongLong();
    }

    const QString dir_;
    std::optional<bool> denied_;
    std::optional<bool> claimed_;
};

} // namespace

int run_fake(const QString& dir, const QStringList& args) {
    if (dir.isEmpty() || !QFileInfo(dir).isDir()) {
        err("fake dfu-util: FAKE_DFU_UTIL_STATE does not name a directory\n");
        return ex_software;
    }
    QFile runs(dir + "/runs"); // one write: a reader never sees half a line
    if (runs.open(QIODevice::Append | QIODevice::Unbuffered))
        runs.write(args.join(QChar(0x1F)).toUtf8() + '\n');
    FakeState state(dir);
    const Options options = parse_options(args);
    int code = 0;
    return start(options, &code) ? run(options, state) : code;
}

} // namespace simulator
