#pragma once
// The units dfu-util would find, as a state directory keeps them between runs. dfu-util's own
// behaviour (commands.h) asks them what is attached, what a memory holds and what goes wrong.
//   order        the ids of the attached units, in listing order
//   units/<id>/  a unit's files (prepared_configurations.h); without a serial file its serial
//                is its id, its devnum 5 and its path 1-1 onwards by its place
//   config       the simulator's configuration in use; missing: the default is set up
//   lock         held (flock) by the simulator run that uses the state
// Beside these, the tests' fake (main.cpp) keeps the record of its runs, a verbatim listing,
// the images of units without their own, the transfer times and the failure switches, each
// optional: FakeDfuUtil (tests/support/fake_dfu_util.h) writes them and says what they do.

#include <QByteArray>
#include <QFile>
#include <QSaveFile>
#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

namespace simulator {

struct Unit {
    QString id; // its folder's name
    QString serial;
    int devnum = 0;
    QString path;
};

enum class UploadFault { none, error, writes_nothing };

enum class DownloadFault {
    none,
    error,         // the first page erase fails after its busy time
    erase_refused, // the first page erase is refused at once
    refused,       // the unit stalls the first request (LIBUSB_ERROR_PIPE, -9)
    lost,          // the unit goes at 40 % (LIBUSB_ERROR_NO_DEVICE, -4), away for a few scans
    unplugged,     // the same, and it stays away
    crash,         // dfu-util dies of a segmentation fault at 40 %
    keeps_flash,   // the download succeeds, the flash stays as it was
};

class Units {
public:
    // `fast`: no transfer takes time unless a seconds file says so.
    Units(const QString& dir, bool fast) : dir_(dir), fast_(fast) {}

    void lock(); // waits for other simulator runs to end
    // Replaces the units by a prepared configuration's; false for an unknown name.
    bool set_up(const QString& name);
    void ensure_configuration();

    // In listing order, before the match options; a listing (`scan`) may change the next run's.
    std::vector<Unit> attached(bool scan);
    std::optional<QByteArray> verbatim_listing() const;
    bool listing_fails() { return on("fail_list"); }
    bool denied(const Unit& unit);  // "Cannot open DFU device"
    bool claimed(const Unit& unit); // another program has its interface
    // From the memory's base address on; what lies beyond reads erased.
    QByteArray memory(const Unit& unit, int alt) const;
    void store_flash(const Unit& unit, const QByteArray& image);
    // Before the flash is read or written, with the transfer's file.
    void prepare_flash(const Unit& unit, const QString& transfer_file);
    UploadFault upload_fault(int alt, qint64 address, qint64 length);
    DownloadFault download_fault(const Unit& unit);
    void lose(const Unit& unit, const QByteArray& flash_now, DownloadFault how);
    // From the first progress update to the last.
    qint64 upload_ms(int alt, qint64 address, qint64 bytes) const;
    qint64 download_ms(qint64 bytes) const;

private:
    bool exists(const QString& name) const;
    QString file(const QString& id, const char* name) const;
    // Its own; else the shared one, which a unit without a folder also writes.
    QString image(const Unit& unit, const char* name) const;
    QStringList order() const;
    bool on(const QString& name); // a switch: true when it applies to this run

    const QString dir_;
    const bool fast_;
    QFile lock_;
    std::optional<bool> denied_;
    std::optional<bool> claimed_;
};

// In one step: a run or a test reading the file meanwhile sees the old bytes or the new.
inline bool replace_file(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

} // namespace simulator
