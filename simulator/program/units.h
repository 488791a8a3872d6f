#pragma once
// The units dfu-util would find, as one of two state directories keeps them: the simulator's
// prepared units (simulator_state.cpp) or the test fake's (fake_state.cpp). dfu-util's own
// behaviour (commands.h) asks them what is attached, what a memory holds and what goes wrong.

#include <QByteArray>
#include <QSaveFile>
#include <QString>

#include <optional>
#include <vector>

namespace simulator {

struct Unit {
    QString id; // the state's own name for it
    QString serial;
    int devnum = 0;
    QString path;
};

enum class UploadFault { none, error, writes_nothing };

enum class DownloadFault {
    none,
    error,         // the first transfer fails: "Error during download"
    erase_refused, // the first page erase is refused
    refused,       // the unit stalls the first request (LIBUSB_ERROR_PIPE, -9)
    lost,          // the unit goes at 40 % (LIBUSB_ERROR_NO_DEVICE, -4)
    crash,         // dfu-util dies of a segmentation fault at 40 %
    keeps_flash,   // the download succeeds, the flash stays as it was
};

class Units {
public:
    virtual ~Units() = default;
    // In listing order, before the match options; a listing (`scan`) may change the next run's.
    virtual std::vector<Unit> attached(bool scan) = 0;
    virtual std::optional<QByteArray> verbatim_listing() { return std::nullopt; }
    virtual bool listing_fails() { return false; }
    virtual bool denied(const Unit& unit) = 0;  // "Cannot open DFU device"
    virtual bool claimed(const Unit& unit) = 0; // another program has its interface
    // From the memory's base address on; what lies beyond reads erased.
    virtual QByteArray memory(const Unit& unit, int alt) = 0;
    virtual void store_flash(const Unit& unit, const QByteArray& image) = 0;
    // Before the flash is read or written, with the transfer's file.
    virtual void prepare_flash(const Unit&, const QString&) {}
    virtual UploadFault upload_fault(const Unit&, int, qint64, qint64) { return UploadFault::none; }
    virtual bool failed_upload_leaves_file() { return false; }
    virtual DownloadFault download_fault(const Unit& unit) = 0;
    virtual void lose(const Unit& unit, const QByteArray& flash_now) = 0;
    // From the first progress update to the last.
    virtual qint64 upload_ms(int alt, qint64 address, qint64 bytes) = 0;
    virtual qint64 download_ms(qint64 bytes) = 0;
};

// In one step: a run or a test reading the file meanwhile sees the old bytes or the new.
inline bool replace_file(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

} // namespace simulator
