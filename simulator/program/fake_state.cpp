#include "simulator/program/fake_state.h"

#include "files/support_misc.h"
#include "simulator/program/memory_layout.h"
#include "simulator/program/output.h"
#include "simulator/program/state_file.h"

#include <QFile>
#include <QFileInfo>

namespace simulator {

FakeState::FakeState(const QString& dir) : dir_(dir) {
    if (dir.isEmpty() || !QFileInfo(dir).isDir()) {
        err(QStringLiteral("fake dfu-util: FAKE_DFU_UTIL_STATE does not name a directory\n"));
        throw Exit{ex_software};
    }
}

void FakeState::record_run(const QStringList& args) {
    QFile runs(dir_ + QStringLiteral("/runs"));
    if (runs.open(QIODevice::Append | QIODevice::Unbuffered))
        runs.write(args.join(QChar(0x1F)).toUtf8() + '\n');
}

bool FakeState::switch_on(const QString& name) {
    const QString path = dir_ + QLatin1Char('/') + name;
    if (!QFileInfo::exists(path))
        return false;
    bool counted = false;
    const int n = QString::fromUtf8(support_misc::read_binary_file(path)).trimmed().toInt(&counted);
    if (!counted)
        return true;
    if (n <= 1) {
        QFile::remove(path);
        return n == 1;
    }
    replace_file(path, QByteArray::number(n - 1) + '\n');
    return true;
}

QStringList FakeState::serials() const {
    QStringList out;
    for (const QString& line :
         QString::fromUtf8(support_misc::read_binary_file(dir_ + QStringLiteral("/units")))
             .split('\n'))
        if (!line.trimmed().isEmpty())
            out << line.trimmed();
    return out;
}

std::vector<Unit> FakeState::attached(bool) {
    std::vector<Unit> units;
    int n = 0;
    for (const QString& serial : serials()) {
        ++n;
        units.push_back({serial, serial, n + 4, QStringLiteral("1-%1").arg(n)});
    }
    return units;
}

std::optional<QByteArray> FakeState::verbatim_listing() {
    const QString path = dir_ + QStringLiteral("/listing");
    if (!QFileInfo::exists(path))
        return std::nullopt;
    return support_misc::read_binary_file(path);
}

bool FakeState::listing_fails() {
    return switch_on(QStringLiteral("fail_list"));
}

bool FakeState::denied(const Unit&) {
    if (!denied_)
        denied_ = switch_on(QStringLiteral("deny_access"));
    return *denied_;
}

bool FakeState::claimed(const Unit&) {
    if (!claimed_)
        claimed_ = switch_on(QStringLiteral("busy"));
    return *claimed_;
}

QString FakeState::image_path(const Unit& unit, const QString& name) const {
    const QString own = dir_ + QLatin1Char('/') + unit.serial + QLatin1Char('/') + name;
    return QFileInfo::exists(own) ? own : dir_ + QLatin1Char('/') + name;
}

QByteArray FakeState::memory(const Unit& unit, int alt) {
    if (alt == otp_alt)
        return support_misc::read_binary_file(image_path(unit, QStringLiteral("otp.bin")));
    if (alt == flash_alt)
        return support_misc::read_binary_file(image_path(unit, QStringLiteral("flash.bin")));
    return QByteArray();
}

void FakeState::store_flash(const Unit& unit, const QByteArray& image) {
    replace_file(image_path(unit, QStringLiteral("flash.bin")), image);
}

UploadFault FakeState::upload_fault(const Unit&, int alt, qint64 address, qint64 length) {
    const QString fails = alt == otp_alt ? QStringLiteral("fail_upload_OTP")
                          : address == flash_base && length == 2048
                              ? QStringLiteral("fail_upload_FW_info")
                              : QStringLiteral("fail_upload_FW");
    if (switch_on(fails))
        return UploadFault::error;
    return switch_on(QStringLiteral("upload_writes_nothing")) ? UploadFault::writes_nothing
                                                              : UploadFault::none;
}

bool FakeState::failed_upload_leaves_file() {
    return QFileInfo::exists(dir_ + QStringLiteral("/upload_leaves_empty_file"));
}

DownloadFault FakeState::download_fault(const Unit&) {
    const std::pair<const char*, DownloadFault> switches[] = {
        {"lose_unit_on_download", DownloadFault::lost},
        {"fail_download", DownloadFault::error},
        {"refuse_download", DownloadFault::refused},
        {"crash_download", DownloadFault::crash},
        {"download_keeps_flash", DownloadFault::keeps_flash},
    };
    for (const auto& [name, fault] : switches)
        if (switch_on(QString::fromLatin1(name)))
            return fault;
    return DownloadFault::none;
}

void FakeState::lose(const Unit& unit, const QByteArray&) {
    QStringList left = serials();
    left.removeAll(unit.serial);
    replace_file(dir_ + QStringLiteral("/units"),
                 (left.join('\n') + (left.isEmpty() ? "" : "\n")).toUtf8());
}

qint64 FakeState::seconds(const QString& name) const {
    return QString::fromUtf8(support_misc::read_binary_file(dir_ + QLatin1Char('/') + name))
        .trimmed()
        .toLongLong();
}

qint64 FakeState::upload_ms(int alt, qint64 address, qint64 bytes) {
    const bool identity =
        alt == otp_alt || (alt == flash_alt && address == flash_base && bytes == 2048);
    return identity ? 0 : 1000 * seconds(QStringLiteral("upload_seconds"));
}

qint64 FakeState::download_ms(qint64) {
    return 1000 * seconds(QStringLiteral("download_seconds"));
}

} // namespace simulator
