#pragma once
// Runs every dfu-util command of the program through the simulator program in its test mode
// (simulator/program/units.h), with a private state directory: attached units, their OTP
// and flash images, failure switches and the record of every argument vector. The command
// table is restored on destruction. Units are either named by their serial (set_units, listed
// at ports 1-1, 1-2, ... by their place) or attached at a port (attach), as a fixture's sockets
// hold them: two ports may report the same serial. Call it from one thread; a unit may come or
// go while the program polls from another.

#include "device/product.h"
#include "dfu/command.h"
#include "dfu/scan.h"

#include <QByteArray>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <map>

class FakeDfuUtil {
    Q_GADGET
public:
    // The fake's failure switches (files of the same names in its state directory).
    enum class Switch {
        fail_list,                // -l exits 74
        // A failed upload is the unit's stall ("returned -9", exit 74); its file stays, empty.
        fail_upload_OTP,          // uploads from alt 2 exit 74
        fail_upload_FW_info,      // the 2048-byte upload of the information block exits 74
        fail_upload_FW,           // every other flash upload (the read-back) exits 74
        upload_writes_nothing,    // an upload exits 0 without writing its file
        fail_download,            // -D: the first page erase fails, exit 74, flash unchanged
        lose_unit_on_download,    // -D unplugs the unit at 40 % ("returned -4"), exit 74; it
                                  // keeps what was written, the rest of that page erased
        download_keeps_flash,     // -D succeeds without changing flash
        deny_access,              // "Cannot open DFU device": -l lists nothing, -U and -D exit 74
        busy,                     // "Cannot claim interface": -U and -D exit 74
        crash_download,           // -D dies of SIGSEGV part-way, flash unchanged
        refuse_download,          // -D: "libusb_control_transfer returned -9", exit 74
    };
    Q_ENUM(Switch)

    FakeDfuUtil();
    ~FakeDfuUtil();
    FakeDfuUtil(const FakeDfuUtil&) = delete;
    FakeDfuUtil& operator=(const FakeDfuUtil&) = delete;

    // The fake's executable: the simulator program.
    static QString script_path();
    // The state directory, which the simulator in simulator mode may use too
    // (ORVANTA_SIMULATOR_STATE_DIR), so that a test plugs units into a running program's sockets.
    QString state_path() const { return state_.path(); }
    bool is_valid() const { return state_.isValid(); }

    // Serials in listing order, replacing every unit attached (at a port too); empty: none.
    void set_units(const QStringList& serials);
    // Replaces the units by those of one of the simulator's prepared configurations.
    bool set_configuration(const QString& name);
    // Printed after the banner in place of the generated listing lines.
    void set_listing(const QString& text);
    // Without a serial: the image of any unit that has none of its own.
    void set_otp(const QByteArray& image, const QString& serial = QString());
    void set_flash(const QByteArray& image, const QString& serial = QString());
    QByteArray flash(const QString& serial = QString()) const;
    // times == 0: every run the switch concerns; otherwise the next `times` of them.
    void fail(Switch what, int times = 0);
    void clear(Switch what);
    // Every -D and -U prints dfu-util 0.9's progress, an update per 4 %: the download's spread
    // over these seconds, and the read-back's (every upload but the OTP area and the 2048-byte
    // information block) over those.
    void set_download_seconds(int seconds);
    void set_upload_seconds(int seconds);

    // A unit plugged in at `port` (the path dfu-util lists and -p takes, such as "1-1.3"),
    // listed after those attached before, with its own images and a new USB address. It takes
    // the place of the unit the port held, whose runs then find their unit gone.
    void attach(const QString& port, const QString& serial, const QByteArray& otp,
                const QByteArray& flash);
    // The unit at `port` is pulled out and stays away; its images stay readable.
    void detach(const QString& port);
    QByteArray flash_at(const QString& port) const;
    // A switch for the unit at `port` alone, as fail() (fail_list concerns no unit); a unit
    // lost by lose_unit_on_download stays away.
    void fail_at(const QString& port, Switch what, int times = 0);

    // One entry per run of the fake, oldest first.
    QList<QStringList> recorded_runs() const;

    // A blank 512-byte OTP area with one record in its first slot.
    static QByteArray otp_image(Device::ProductInfoRaw product);
    // A flash image of `size` bytes with the information block of LUMO7 `revision` at byte 428,
    // as in the desired firmware; the other bytes follow a pattern that never contains a marker.
    static QByteArray flash_image(Device::ProductInfoRaw product, const QString& revision,
                                  int size = 2048);
    // The firmware image the program carries.
    static QByteArray desired_firmware();
    // The serials a scan listed, in its order.
    static QStringList serials(const DFU::Scan& scan);
    // The name of a unit's alternate setting (0 to 3), as the STM32F4 ROM bootloader gives it.
    static QString alt_name(int alt);
    // One listing line of a unit's alternate setting, as dfu-util 0.9 prints it; its port is
    // 1-(devnum - 4).
    static QString listing_line(const QString& serial, int alt, int devnum = 5,
                                const QString& end = QStringLiteral("\n"));

private:
    void write_state_file(const QString& name, const QByteArray& bytes) const;
    QString image_path(const QString& name, const QString& serial) const;
    QStringList order() const;

    QTemporaryDir state_;
    int plugs_ = 0; // units attached at a port so far
    std::map<DFU::CmdID, DFU::Command> saved_commands_;
    QString saved_path_;
    bool had_state_variable_ = false;
    QByteArray saved_state_variable_;
};
