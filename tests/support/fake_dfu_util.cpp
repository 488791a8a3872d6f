#include "fake_dfu_util.h"

#include "file_contents.h"

#include "device/memory_map.h"
#include "device/record_writers.h"
#include "simulator/program/state_files.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMetaEnum>
#include <QProcess>
#include <QRegularExpression>
#include <QSaveFile>
#include <QUuid>
#include <QtGlobal>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

constexpr char state_variable[] = "FAKE_DFU_UTIL_STATE";
constexpr int info_offset = 428; // where the desired firmware keeps its information block

// Its file's name: the enumerator's own, so that the two cannot drift apart.
QString switch_name(FakeDfuUtil::Switch what) {
    const QMetaEnum names = QMetaEnum::fromType<FakeDfuUtil::Switch>();
    return QString::fromLatin1(names.valueToKey(static_cast<int>(what)));
}

using namespace simulator;

// Holds the state's lock for its life, as a run of the fake does while it reads the units.
class StateLock {
public:
    explicit StateLock(const QString& path)
        : fd_(::open(QFile::encodeName(path).constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600)) {
        if (fd_ >= 0)
            ::flock(fd_, LOCK_EX);
    }
    ~StateLock() {
        if (fd_ >= 0)
            ::close(fd_); // and the lock with it
    }
    StateLock(const StateLock&) = delete;
    StateLock& operator=(const StateLock&) = delete;

private:
    const int fd_;
};

// A file of a unit's folder, or the folder itself without a name.
QString unit_path(const QString& id, const QString& name = QString()) {
    return QString::fromLatin1(state_file::units) + '/' + id + '/' + name;
}

} // namespace

FakeDfuUtil::FakeDfuUtil()
    : saved_commands_(DFU::commands), saved_path_(DFU::Command::path),
      had_state_variable_(qEnvironmentVariableIsSet(state_variable)),
      saved_state_variable_(qgetenv(state_variable)) {
    qputenv(state_variable, QFile::encodeName(state_.path()));
    for (auto& entry : DFU::commands)
        entry.second.program = script_path();
    DFU::Command::path.clear();
}

FakeDfuUtil::~FakeDfuUtil() {
    DFU::commands = saved_commands_;
    DFU::Command::path = saved_path_;
    if (had_state_variable_)
        qputenv(state_variable, saved_state_variable_);
    else
        qunsetenv(state_variable);
}

QString FakeDfuUtil::script_path() {
    return QStringLiteral(ORVANTA_DFU_SIMULATOR);
}

void FakeDfuUtil::write_state_file(const QString& name, const QByteArray& bytes) const {
    const QString path = state_.filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Replaced in one step: the fake may be running on another thread's behalf right now.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size())
        file.commit();
}

QString FakeDfuUtil::image_path(const QString& name, const QString& serial) const {
    return serial.isEmpty() ? name : unit_path(serial, name);
}

void FakeDfuUtil::set_units(const QStringList& serials) {
    write_state_file(state_file::order, serials.join('\n').toUtf8());
}

bool FakeDfuUtil::set_configuration(const QString& name) {
    QProcess setup;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ORVANTA_SIMULATOR_STATE_DIR"), state_.path());
    setup.setProcessEnvironment(environment);
    setup.start(script_path(), {"--dfu-util-command", "setup_prepared_config", name});
    return setup.waitForFinished(60000) && setup.exitStatus() == QProcess::NormalExit &&
           setup.exitCode() == 0;
}

void FakeDfuUtil::set_listing(const QString& text) {
    write_state_file(QStringLiteral("listing"), text.toUtf8());
}

void FakeDfuUtil::set_otp(const QByteArray& image, const QString& serial) {
    write_state_file(image_path(QStringLiteral("otp.bin"), serial), image);
}

void FakeDfuUtil::set_flash(const QByteArray& image, const QString& serial) {
    write_state_file(image_path(QStringLiteral("flash.bin"), serial), image);
}

QByteArray FakeDfuUtil::flash(const QString& serial) const {
    return read_all(state_.filePath(image_path(QStringLiteral("flash.bin"), serial)));
}

void FakeDfuUtil::fail(Switch what, int times) {
    write_state_file(switch_name(what), times > 0 ? QByteArray::number(times) : QByteArray());
}

void FakeDfuUtil::clear(Switch what) {
    QFile::remove(state_.filePath(switch_name(what)));
}

void FakeDfuUtil::set_download_seconds(int seconds) {
    write_state_file(QStringLiteral("download_seconds"), QByteArray::number(seconds));
}

void FakeDfuUtil::set_upload_seconds(int seconds) {
    write_state_file(QStringLiteral("upload_seconds"), QByteArray::number(seconds));
}

// A unit at a port is named by its port: the folder holds whatever unit is plugged in there.
void FakeDfuUtil::attach(const QString& port, const QString& serial, const QByteArray& otp,
                         const QByteArray& flash) {
    const StateLock hold(state_.filePath(state_file::lock));
    QDir(state_.filePath(unit_path(port))).removeRecursively();
    const std::pair<const char*, QByteArray> files[] = {
        {unit_file::serial, serial.toUtf8()},
        {unit_file::path, port.toUtf8()},
        {unit_file::devnum, QByteArray::number(10 + plugs_++)},
        {unit_file::plug, QUuid::createUuid().toByteArray()},
        {unit_file::otp, otp},
        {unit_file::flash, flash}};
    for (const auto& [name, bytes] : files)
        write_state_file(unit_path(port, name), bytes);
    QStringList ids = order();
    ids.removeAll(port);
    write_state_file(state_file::order, (ids << port).join('\n').toUtf8());
}

void FakeDfuUtil::detach(const QString& port) {
    const StateLock hold(state_.filePath(state_file::lock));
    QStringList ids = order();
    ids.removeAll(port);
    write_state_file(state_file::order, ids.join('\n').toUtf8());
}

QByteArray FakeDfuUtil::flash_at(const QString& port) const {
    return read_all(state_.filePath(unit_path(port, unit_file::flash)));
}

void FakeDfuUtil::fail_at(const QString& port, Switch what, int times) {
    write_state_file(unit_path(port, switch_name(what)),
                     times > 0 ? QByteArray::number(times) : QByteArray());
}

QStringList FakeDfuUtil::order() const {
    return QString::fromUtf8(read_all(state_.filePath(state_file::order)))
        .split(QRegularExpression(QStringLiteral("\\s+")), Qt::SkipEmptyParts);
}

QList<QStringList> FakeDfuUtil::recorded_runs() const {
    QStringList lines = QString::fromUtf8(read_all(state_.filePath(QStringLiteral("runs")))).split('\n');
    lines.removeLast(); // every run ends its line
    QList<QStringList> runs;
    for (const QString& line : lines)
        runs.append(line.isEmpty() ? QStringList() : line.split(QChar(0x1F)));
    return runs;
}

QByteArray FakeDfuUtil::otp_image(Device::ProductInfoRaw product) {
    return QByteArray(Device::otp_layout::area_size, '\xFF')
        .replace(0, Device::otp_layout::slot_size,
                 Device::make_OTP_record(product, {0, 1, 2, 3, 4, 5, 6, 7}));
}

QByteArray FakeDfuUtil::flash_image(Device::ProductInfoRaw product, const QString& revision,
                                    int size) {
    // Neighbouring bytes differ by 7, so the pattern never holds a marker (12 47 / 13 47).
    QByteArray image(size, '\0');
    for (int i = 0; i < size; ++i)
        image[i] = static_cast<char>((i * 7) & 0xFF);
    const QByteArray block = Device::make_FW_Info_block(product, "LUMO7", revision, {{"Git tag", "v1"}});
    return image.replace(info_offset, block.size(), block).left(size);
}

QByteArray FakeDfuUtil::desired_firmware() {
    return read_all(QStringLiteral(":resources/firmware.bin"));
}

QStringList FakeDfuUtil::serials(const DFU::Scan& scan) {
    QStringList out;
    for (const DFU::DeviceItem& item : scan.devices)
        out << item.serial;
    return out;
}

QString FakeDfuUtil::alt_name(int alt) {
    using namespace Device::memory_map;
    const QStringList names = {
        "@Internal Flash  /" + address_text(flash_base) + "/04*016Kg,01*064Kg,07*128Kg",
        "@Option Bytes  /" + address_text(option_bytes_address) + "/01*016 e",
        "@OTP Memory /" + address_text(otp_address) + "/01*512 e,01*016 e",
        "@Device Feature/0xFFFF0000/01*004 e",
    };
    return names.value(alt);
}

QString FakeDfuUtil::listing_line(const QString& serial, int alt, int devnum, const QString& end) {
    return QStringLiteral("Found DFU: [0483:df11] ver=2200, devnum=%1, cfg=1, intf=0, "
                          "path=\"1-%2\", alt=%3, name=\"%4\", serial=\"%5\"")
               .arg(devnum)
               .arg(devnum - 4)
               .arg(alt)
               .arg(alt_name(alt), serial) +
           end;
}
