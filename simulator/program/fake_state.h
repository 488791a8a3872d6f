#pragma once
// The tests' fake dfu-util: the same dfu-util, with units and failures that a test sets up in
// the directory named by FAKE_DFU_UTIL_STATE (tests/support/fake_dfu_util.h writes it). Every
// file is optional:
//   runs        every run appends one line, its arguments separated by the unit separator
//               (0x1F), before anything else, also for failing runs
//   units       the attached units, one serial a line, in listing order; devnum 5, 6, ... and
//               path 1-1, 1-2, ... in that order
//   listing     printed after the banner in place of the listing lines
//   otp.bin, flash.bin               the images of any unit that has none of its own
//   <serial>/otp.bin, <serial>/flash.bin   that unit's own images; a download writes the flash
//               image the unit reads
//   download_seconds, upload_seconds   how long a -D, and an upload other than the OTP area
//               and the 2048-byte information block, takes; missing: no time
// Failure switches, named as FakeDfuUtil::Switch names them: a switch that exists and is empty
// always applies; one that holds a number N applies to the next N runs it concerns and then
// removes itself.

#include "simulator/program/units.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace simulator {

class FakeState : public Units {
public:
    // Ends the run (exit code 70) unless `dir` is a directory.
    explicit FakeState(const QString& dir);

    // In one write, so that a reader never sees half a line.
    void record_run(const QStringList& args);

    std::vector<Unit> attached(bool scan) override;
    std::optional<QByteArray> verbatim_listing() override;
    bool listing_fails() override;
    bool denied(const Unit& unit) override;
    bool claimed(const Unit& unit) override;
    QByteArray memory(const Unit& unit, int alt) override;
    void store_flash(const Unit& unit, const QByteArray& image) override;
    void prepare_flash(const Unit&, const QString&) override {}
    UploadFault upload_fault(const Unit& unit, int alt, qint64 address, qint64 length) override;
    bool failed_upload_leaves_file() override;
    DownloadFault download_fault(const Unit& unit) override;
    // The unit is unplugged: it leaves `units`; its flash stays as it was.
    void lose(const Unit& unit, const QByteArray& flash) override;
    qint64 upload_ms(int alt, qint64 address, qint64 bytes) override;
    qint64 download_ms(qint64 bytes) override;

private:
    // True when the switch applies to this run; uses up one run of a counted switch.
    bool switch_on(const QString& name);
    QString image_path(const Unit& unit, const QString& name) const;
    QStringList serials() const;
    qint64 seconds(const QString& name) const;

    QString dir_;
    // Asked once a run, however often a run asks.
    std::optional<bool> denied_;
    std::optional<bool> claimed_;
};

} // namespace simulator
