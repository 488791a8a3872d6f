#include "simulator/program/prepared_configurations.h"

#include "device/bytes.h"
#include "device/record_writers.h"
#include "simulator/program/memory_layout.h"
#include "simulator/program/output.h"
#include "simulator/program/state_file.h"

#include <QDir>

#include <vector>

namespace simulator {

namespace {

struct Firmware {
    Device::ProductInfoRaw product;
    QString name;
    QString revision;
    QString date;
    QString tag;
};

enum class Flash { firmware, desired, desired_changed };

struct UnitSpec {
    QString serial;
    int devnum = 5;
    QString path = QStringLiteral("1-1");
    std::optional<Device::ProductInfoRaw> otp; // none: a blank OTP area
    Flash flash = Flash::firmware;
    Firmware firmware;
    QStringList faults; // unit_file names
};

const Device::ProductInfoRaw lumo7{Device::VELK};
const Device::ProductInfoRaw k5{Device::RAMO};
const Device::ProductInfoRaw x42{0x2A};
const Firmware lumo7_b7{lumo7, "LUMO7", "B7", "2025-03-14", "LUMO7-B7"};
const Firmware k5_c3{k5, "K5", "C3", "2025-01-20", "K5-C3"};
const Firmware x42_a1{x42, "X42", "A1", "2024-11-02", "X42-A1"};

UnitSpec lumo7_unit(const QString& serial, QStringList faults = {}) {
    return {serial, 5, "1-1", lumo7, Flash::firmware, lumo7_b7, std::move(faults)};
}

// In the order of the README's table; the units of each in listing order.
const std::vector<std::pair<QString, std::vector<UnitSpec>>>& configurations() {
    static const std::vector<std::pair<QString, std::vector<UnitSpec>>> table = {
        {"no_unit", {}},
        {"older_revision", {lumo7_unit("3776367B3036")}},
        {"desired_firmware", {{"3776367B3137", 5, "1-1", lumo7, Flash::desired, {}, {}}}},
        {"desired_revision_differs",
         {{"3776367B3238", 5, "1-1", lumo7, Flash::desired_changed, {}, {}}}},
        {"other_product", {{"2B4D5E0A1F33", 5, "1-1", k5, Flash::firmware, k5_c3, {}}}},
        {"blank_otp", {{"3776367B3439", 5, "1-1", std::nullopt, Flash::firmware, lumo7_b7, {}}}},
        {"unknown_product", {{"2A0C61E5B7D2", 5, "1-1", x42, Flash::firmware, x42_a1, {}}}},
        {"foreign_firmware", {{"3776367B3540", 5, "1-1", lumo7, Flash::firmware, k5_c3, {}}}},
        {"two_units",
         {{"206A35744E4B", 7, "1-2", lumo7, Flash::firmware, lumo7_b7, {}},
          lumo7_unit("3776367B3036")}},
        {"download_fails", {lumo7_unit("3776367B3641", {unit_file::fail_download})}},
        {"lost_during_download", {lumo7_unit("3776367B3742", {unit_file::lost_during_download})}},
        {"no_access", {lumo7_unit("3776367B3843", {unit_file::no_access})}},
        {"unit_busy", {lumo7_unit("3776367B3944", {unit_file::busy})}},
    };
    return table;
}

// The image of a unit that has not got the desired firmware: a Cortex-M vector table, the
// information block at byte 428, code-like bytes, and erased flash at the end.
QByteArray firmware_image(const Firmware& f) {
    constexpr int size = 32768;
    constexpr int erased_tail = 256;
    QByteArray image = Device::bytes::le32_bytes(0x20020000);
    for (quint32 i = 1; i < 107; ++i)
        image += Device::bytes::le32_bytes(flash_base + 0x400 + 8 * i + 1);
    image += Device::make_FW_Info_block(f.product, f.name, f.revision,
                                        {{"Creation date", f.date},
                                         {"Creation time", "10:41:52"},
                                         {"Git hash of FW", "41c07a2be95d"},
                                         {"Git tag", f.tag},
                                         {"Firmware compiler version", "arm-none-eabi-gcc 9.2.1"}});
    for (int i = 0; image.size() < size - erased_tail; ++i)
        image.append(static_cast<char>((i * 37 + 11) & 0xFF));
    return image + QByteArray(erased_tail, '\xFF');
}

QByteArray otp_image(const std::optional<Device::ProductInfoRaw>& product) {
    QByteArray area(Device::otp_layout::area_size, '\xFF');
    if (product) // hardware revision and production data in the tail
        area.replace(
            0, Device::otp_layout::slot_size,
            Device::make_OTP_record(*product, {0x01, 0x00, 0x25, 0x06, 0x02, 0x00, 0x4a, 0x10}));
    return area;
}

void write_unit(const QString& folder, const UnitSpec& unit) {
    const auto put = [&folder](const QString& name, const QByteArray& bytes) {
        QFile file(folder + QLatin1Char('/') + name);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(bytes) != bytes.size())
            usage_error(QStringLiteral("cannot write %1").arg(file.fileName()));
    };
    if (!QDir().mkpath(folder))
        usage_error(QStringLiteral("cannot create %1").arg(folder));
    put(unit_file::serial, unit.serial.toUtf8() + '\n');
    put(unit_file::devnum, QByteArray::number(unit.devnum) + '\n');
    put(unit_file::path, unit.path.toUtf8() + '\n');
    put(unit_file::option_bytes, QByteArray::fromHex("aa55ec13ffff0000ffff0000ffff0000"));
    put(unit_file::otp, otp_image(unit.otp));
    if (unit.flash == Flash::firmware)
        put(unit_file::flash, firmware_image(unit.firmware));
    else
        put(unit_file::flash_pending,
            unit.flash == Flash::desired ? "desired\n" : "desired_changed\n");
    for (const QString& fault : unit.faults)
        put(fault, QByteArray());
}

} // namespace

const QStringList& configuration_names() {
    static const QStringList names = [] {
        QStringList out;
        for (const auto& entry : configurations())
            out << entry.first;
        return out;
    }();
    return names;
}

std::optional<QStringList> write_configuration(const QString& name, const QString& dir) {
    for (const auto& [config, units] : configurations()) {
        if (config != name)
            continue;
        QStringList order;
        for (const UnitSpec& unit : units) {
            write_unit(dir + QLatin1Char('/') + unit.serial, unit);
            order << unit.serial;
        }
        return order;
    }
    return std::nullopt;
}

} // namespace simulator
