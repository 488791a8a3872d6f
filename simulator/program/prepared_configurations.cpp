#include "simulator/program/prepared_configurations.h"

#include "device/bytes.h"
#include "device/record_writers.h"
#include "simulator/program/memory_layout.h"
#include "simulator/program/output.h"
#include "simulator/program/state_files.h"
#include "simulator/program/units.h"

#include <QDir>
#include <QUuid>

#include <array>
#include <vector>

namespace simulator {

namespace {

struct Firmware {
    Device::ProductInfoRaw product;
    const char* name;
    const char* revision;
    const char* date;
};

struct UnitSpec {
    const char* serial;
    std::optional<Device::ProductInfoRaw> otp; // none: a blank OTP area
    std::optional<Firmware> firmware;          // none: the flash holds the desired firmware
    const char* extra = nullptr;               // a fault's unit_file, or the flash.pending kind
    int devnum = 5;
    const char* path = "1-1";
    int variant = 0; // another variant of the firmware's image holds other bytes after its block
};

const Device::ProductInfoRaw lumo7{Device::VELK};
const Device::ProductInfoRaw k5{Device::RAMO};
const Firmware lumo7_b7{lumo7, "LUMO7", "B7", "2025-03-14"};
const char* const other_older_revision = "B6"; // where the desired firmware is itself a "B7"
const Firmware k5_c3{k5, "K5", "C3", "2025-01-20"};

// Four Lumo-7 with "B7" on the four ports of a hub at 1-1, each flash of its own variant;
// `lost_at`: the port whose unit is unplugged at 40 % of its next download, for good.
std::vector<UnitSpec> four_behind_a_hub(const std::array<const char*, 4>& serials,
                                        const char* lost_at = nullptr) {
    const char* const ports[] = {"1-1.1", "1-1.2", "1-1.3", "1-1.4"};
    std::vector<UnitSpec> units;
    for (int i = 0; i < 4; ++i) {
        const bool lost = lost_at != nullptr && QByteArray(lost_at) == ports[i];
        units.push_back({serials[i], lumo7, lumo7_b7,
                         lost ? unit_file::unplugged_during_download : nullptr, 6 + i, ports[i],
                         1 + i});
    }
    return units;
}

// The units of each in listing order.
const std::vector<std::pair<QString, std::vector<UnitSpec>>> configurations = {
    {"no_unit", {}},
    {"older_revision", {{"3776367B3036", lumo7, std::nullopt, "older"}}},
    {"desired_firmware", {{"3776367B3137", lumo7, std::nullopt, "desired"}}},
    {"desired_revision_differs", {{"3776367B3238", lumo7, std::nullopt, "desired_changed"}}},
    {"other_product", {{"2B4D5E0A1F33", k5, k5_c3}}},
    {"blank_otp", {{"3776367B3439", std::nullopt, lumo7_b7}}},
    {"unknown_product",
     {{"2A0C61E5B7D2", Device::ProductInfoRaw{0x2A}, Firmware{{0x2A}, "X42", "A1", "2024-11-02"}}}},
    {"foreign_firmware", {{"3776367B3540", lumo7, k5_c3}}},
    {"two_units",
     // dfu-util lists units in the order of their ports.
     {{"206A35744E4B", lumo7, lumo7_b7, nullptr, 5, "1-1"},
      {"3776367B3036", lumo7, lumo7_b7, nullptr, 6, "1-2"}}},
    {"download_fails", {{"3776367B3641", lumo7, lumo7_b7, unit_file::refuse_erase}}},
    {"lost_during_download", {{"3776367B3742", lumo7, lumo7_b7, unit_file::lost_during_download}}},
    {"no_access", {{"3776367B3843", lumo7, lumo7_b7, unit_file::no_access}}},
    {"unit_busy", {{"3776367B3944", lumo7, lumo7_b7, unit_file::busy}}},
    {"four_units",
     four_behind_a_hub({"3776367B4101", "3776367B4102", "3776367B4103", "3776367B4104"})},
    {"four_units_one_lost",
     four_behind_a_hub({"3776367B4201", "3776367B4202", "3776367B4203", "3776367B4204"}, "1-1.3")},
    // As the ROM bootloaders of some families report: the serial tells the two apart no more.
    {"two_units_same_serial",
     {{"3776367B4301", lumo7, lumo7_b7, nullptr, 6, "1-1.1", 1},
      {"3776367B4301", lumo7, lumo7_b7, nullptr, 7, "1-1.2", 2}}},
};

// A Cortex-M vector table, the information block at byte 428, code-like bytes of the variant,
// erased flash.
QByteArray firmware_image(const Firmware& f, int variant = 0) {
    using Device::memory_map::sram_base, Device::memory_map::sram_size;
    QByteArray image = Device::bytes::le32_bytes(sram_base + sram_size); // stack at the SRAM's top
    for (quint32 i = 1; i < 107; ++i)
        image += Device::bytes::le32_bytes(flash_base + 0x400 + 8 * i + 1);
    image +=
        Device::make_FW_Info_block(f.product, f.name, f.revision,
                                   {{"Creation date", f.date},
                                    {"Creation time", "10:41:52"},
                                    {"Git hash of FW", "41c07a2be95d"},
                                    {"Git tag", QStringLiteral("%1-%2").arg(f.name, f.revision)},
                                    {"Firmware compiler version", "arm-none-eabi-gcc 9.2.1"}});
    for (int i = 0; image.size() < 32768 - 256; ++i)
        image.append(static_cast<char>((i * 37 + 11 + variant * 53) & 0xFF));
    return image + QByteArray(256, '\xFF');
}

void write_unit(const QString& folder, const UnitSpec& unit) {
    const auto put = [&folder](const QString& name, const QByteArray& bytes) {
        if (!replace_file(folder + '/' + name, bytes))
            usage_error("cannot write " + folder + '/' + name);
    };
    if (!QDir().mkpath(folder))
        usage_error("cannot create " + folder);
    put(unit_file::serial, QByteArray(unit.serial) + '\n');
    put(unit_file::devnum, QByteArray::number(unit.devnum) + '\n');
    put(unit_file::path, QByteArray(unit.path) + '\n');
    put(unit_file::plug, QUuid::createUuid().toByteArray() + '\n');
    put(unit_file::option_bytes, QByteArray::fromHex("aa55ec13ffff0000ffff0000ffff0000"));
    QByteArray otp(Device::otp_layout::area_size, '\xFF');
    if (unit.otp) // with hardware revision and production data in the tail
        otp.replace(
            0, Device::otp_layout::slot_size,
            Device::make_OTP_record(*unit.otp, {0x01, 0x00, 0x25, 0x06, 0x02, 0x00, 0x4a, 0x10}));
    put(unit_file::otp, otp);
    if (unit.firmware)
        put(unit_file::flash, firmware_image(*unit.firmware, unit.variant));
    else
        put(unit_file::flash_pending, QByteArray(unit.extra) + '\n');
    if (unit.firmware && unit.extra)
        put(unit.extra, QByteArray());
}

} // namespace

QByteArray older_revision_firmware(const QString& desired_revision) {
    Firmware older = lumo7_b7;
    if (desired_revision == QLatin1String(older.revision))
        older.revision = other_older_revision;
    return firmware_image(older);
}

QStringList configuration_names() {
    QStringList names;
    for (const auto& entry : configurations)
        names << entry.first;
    return names;
}

QStringList write_configuration(const QString& name, const QString& dir) {
    for (const auto& [config, units] : configurations) {
        if (config != name)
            continue;
        QStringList order;
        for (const UnitSpec& unit : units) {
            write_unit(dir + '/' + unit.path, unit);
            order << unit.path;
        }
        return order;
    }
    return {};
}

} // namespace simulator
