#include "fake_dfu_util.h"

#include "file_contents.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QtGlobal>

namespace {

constexpr char state_variable[] = "FAKE_DFU_UTIL_STATE";

QString switch_name(FakeDfuUtil::Switch what) {
    switch (what) {
    case FakeDfuUtil::Switch::fail_list: return QStringLiteral("fail_list");
    case FakeDfuUtil::Switch::fail_upload_OTP: return QStringLiteral("fail_upload_OTP");
    case FakeDfuUtil::Switch::fail_upload_FW_info: return QStringLiteral("fail_upload_FW_info");
    case FakeDfuUtil::Switch::fail_upload_FW: return QStringLiteral("fail_upload_FW");
    case FakeDfuUtil::Switch::upload_leaves_empty_file: return QStringLiteral("upload_leaves_empty_file");
    case FakeDfuUtil::Switch::upload_writes_nothing: return QStringLiteral("upload_writes_nothing");
    case FakeDfuUtil::Switch::fail_download: return QStringLiteral("fail_download");
    case FakeDfuUtil::Switch::lose_unit_on_download: return QStringLiteral("lose_unit_on_download");
    case FakeDfuUtil::Switch::download_keeps_flash: return QStringLiteral("download_keeps_flash");
    case FakeDfuUtil::Switch::deny_access: return QStringLiteral("deny_access");
    case FakeDfuUtil::Switch::busy: return QStringLiteral("busy");
    }
    return QString();
}

void put_bytes(QByteArray& image, int offset, const QByteArray& bytes) {
    for (int i = 0; i < bytes.size() && offset + i < image.size(); ++i)
        image[offset + i] = bytes[i];
}

// A 32-byte NUL-padded text field.
QByteArray text_field(const QString& text) {
    QByteArray field = text.toUtf8().left(31);
    field.append(QByteArray(32 - field.size(), '\0'));
    return field;
}

QByteArray product_bytes(Device::ProductInfoRaw p) {
    QByteArray b(4, '\0');
    b[0] = static_cast<char>(p.type_code);
    b[1] = static_cast<char>(p.byte1);
    b[2] = static_cast<char>(p.byte2);
    b[3] = static_cast<char>(p.byte3);
    return b;
}

} // namespace

FakeDfuUtil::FakeDfuUtil()
    : saved_commands_(DFU::commands),
      saved_path_(DFU::Command::path),
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
    return QDir(QStringLiteral(ORVANTA_TEST_FAKES_DIR)).absoluteFilePath("fake_dfu_util.sh");
}

void FakeDfuUtil::write_state_file(const QString& name, const QByteArray& bytes) const {
    const QString path = state_.filePath(name);
    QDir().mkpath(QFileInfo(path).absolutePath());
    // Replaced in one step: the fake may be running on another thread's behalf right now.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        file.write(bytes);
        file.commit();
    }
}

QString FakeDfuUtil::image_path(const QString& name, const QString& serial) const {
    return serial.isEmpty() ? name : serial + "/" + name;
}

void FakeDfuUtil::set_units(const QStringList& serials) {
    QByteArray text;
    for (const QString& serial : serials)
        text += serial.toUtf8() + '\n';
    write_state_file(QStringLiteral("units"), text);
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

void FakeDfuUtil::clear(Switch what) { QFile::remove(state_.filePath(switch_name(what))); }

void FakeDfuUtil::set_download_seconds(int seconds) {
    write_state_file(QStringLiteral("download_seconds"), QByteArray::number(seconds));
}

QList<QStringList> FakeDfuUtil::recorded_runs() const {
    QList<QStringList> runs;
    QFile file(state_.filePath(QStringLiteral("runs")));
    if (!file.open(QIODevice::ReadOnly))
        return runs;
    const QString text = QString::fromUtf8(file.readAll());
    QStringList lines = text.split('\n');
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast(); // every run ends its line
    for (const QString& line : lines)
        runs.append(line.isEmpty() ? QStringList() : line.split(QChar(0x1F)));
    return runs;
}

QByteArray FakeDfuUtil::otp_image(Device::ProductInfoRaw product, int slot) {
    QByteArray image(512, '\xFF');
    const int at = 16 * slot;
    put_bytes(image, at, QByteArray::fromHex("11472301"));
    put_bytes(image, at + 4, product_bytes(product));
    put_bytes(image, at + 8, QByteArray::fromHex("0001020304050607"));
    return image;
}

QByteArray FakeDfuUtil::flash_image(Device::ProductInfoRaw product, const QString& revision,
                                    int size, int offset, const QString& name,
                                    const std::vector<std::pair<QString, QString>>& details) {
    // Neighbouring bytes differ by 7, so the pattern never holds a marker (12 47 / 13 47).
    QByteArray image(size, '\0');
    for (int i = 0; i < size; ++i)
        image[i] = static_cast<char>((i * 7) & 0xFF);
    QByteArray block = QByteArray::fromHex("12472301") + product_bytes(product) +
                       text_field(name) + text_field(revision);
    for (const auto& pair : details)
        block += text_field(pair.first) + text_field(pair.second);
    block += QByteArray::fromHex("13472301");
    put_bytes(image, offset, block);
    return image;
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
