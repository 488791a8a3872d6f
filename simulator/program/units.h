#pragma once
// The units dfu-util would find, as a state directory keeps them between runs. dfu-util's own
// behaviour (commands.h) asks them what is attached, what a memory holds and what goes wrong.
//   order        the ids of the attached units, in listing order
//   units/<id>/  a unit's files (state_files.h); its id is its folder's name, never its serial,
//                which two units may share; without a serial file its serial is its id, its
//                devnum 5 and its path 1-1 onwards by its place
//   config       the simulator's configuration in use; missing: the default is set up
//   lock         held (flock) by a run while it reads or changes any of these, briefly
//   units/<id>/lock  held by the simulator run that reads or writes that unit's memory
// Beside these, the tests' fake (main.cpp) keeps the record of its runs, a verbatim listing,
// the images of units without their own, the transfer times and the failure switches, each
// optional, a unit's own switches in its folder: FakeDfuUtil (tests/support/fake_dfu_util.h)
// writes them and says what they do.

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
    QString plug; // this plug-in of it (unit_file::plug)
};

enum class UploadFault { none, error, writes_nothing };

enum class DownloadFault {
    none,
    error,         // the first page erase fails after its busy time
    erase_refused, // the first page erase is refused at once
    refused,       // the unit stalls the first request (LIBUSB_ERROR_PIPE, -9)
    lost,          // the unit goes at 40 % (LIBUSB_ERROR_NO_DEVICE, -4), away for a few scans
    lost_for_good, // the same, and it stays away
    crash,         // dfu-util dies of a segmentation fault at 40 %
    keeps_flash,   // the download succeeds, the flash stays as it was
};

class Units {
public:
    // `fast`: no transfer takes time unless a seconds file says so. `unit_locks`: a run that
    // reads or writes a unit's memory holds that unit's lock (the simulator; the fake takes none).
    Units(const QString& dir, bool fast, bool unit_locks)
        : dir_(dir), fast_(fast), unit_locks_(unit_locks) {}

    // Replaces the units by a prepared configuration's; false for an unknown name.
    bool set_up(const QString& name);
    void ensure_configuration();
    // Waits while another run reads or writes the unit's memory, then holds it until this run
    // ends: transfers to one unit take turns, transfers to different units go at once.
    void lock_unit(const Unit& unit);

    // In listing order, before the match options; a listing (`scan`) may change the next run's.
    std::vector<Unit> attached(bool scan);
    std::optional<QByteArray> verbatim_listing() const;
    bool listing_fails() { return on("fail_list"); }
    bool denied(const Unit& unit);  // "Cannot open DFU device"
    bool claimed(const Unit& unit); // another program has its interface
    // From the memory's base address on; what lies beyond reads erased.
    QByteArray memory(const Unit& unit, int alt) const;
    // False, storing nothing, when the unit was pulled out or replaced since the run found it.
    bool store_flash(const Unit& unit, const QByteArray& image);
    // Before the flash is read or written, with the transfer's file.
    void prepare_flash(const Unit& unit, const QString& transfer_file);
    UploadFault upload_fault(const Unit& unit, int alt, qint64 address, qint64 length);
    DownloadFault download_fault(const Unit& unit);
    // Unplugged part-way with `flash_now` written, as `how` says; nothing for a unit gone.
    void lose(const Unit& unit, const QByteArray& flash_now, DownloadFault how);
    // From the first progress update to the last.
    qint64 upload_ms(int alt, qint64 address, qint64 bytes) const;
    qint64 download_ms(qint64 bytes) const;

private:
    // Holds the state's lock for its life; nested holds share the outer one.
    class Hold {
    public:
        explicit Hold(const Units& units);
        ~Hold();
        Hold(const Hold&) = delete;
        Hold& operator=(const Hold&) = delete;

    private:
        const Units& units_;
    };

    bool exists(const QString& name) const;
    QString folder(const QString& id) const;
    QString file(const QString& id, const QString& name) const;
    // Its own; else the shared one, which a unit without a folder also writes.
    QString image(const Unit& unit, const char* name) const;
    void write_flash(const Unit& unit, const QByteArray& image);
    bool gone(const Unit& unit) const;
    QStringList order() const;
    void write_order(const QStringList& ids);
    // A switch, true when it applies to this run: the shared one; for a unit, its own or else
    // the shared one.
    bool on(const QString& name);
    bool on(const QString& name, const Unit& unit);
    bool use_up(const QString& path);

    const QString dir_;
    const bool fast_;
    const bool unit_locks_;
    // The state's lock, taken when the outermost Hold begins; a Hold is made on const paths too.
    mutable QFile state_lock_;
    mutable int holds_ = 0;
    QFile unit_lock_;
    std::optional<bool> denied_;
    std::optional<bool> claimed_;
};

// In one step: a run or a test reading the file meanwhile sees the old bytes or the new.
inline bool replace_file(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

} // namespace simulator
