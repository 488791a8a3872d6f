#pragma once
// The units that dfu-util would find, as one of the two state directories keeps them: the
// simulator's prepared units or the test fake's. dfu-util's own behaviour (commands.h) asks
// them what is attached, what a memory holds and what goes wrong; it decides nothing itself.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <optional>
#include <vector>

namespace simulator {

struct Unit {
    QString id; // the store's own name for it
    QString serial;
    int devnum = 0;
    QString path;
};

enum class UploadFault {
    none,
    error,          // the upload fails: "Error during upload", exit 74
    writes_nothing, // the upload reports success but leaves no file
};

enum class DownloadFault {
    none,
    error,         // the first transfer fails: "Error during download", flash unchanged
    erase_refused, // the first page erase is refused, flash unchanged
    refused,       // the unit stalls the first request (LIBUSB_ERROR_PIPE, -9)
    lost,          // the unit goes at 40 % (LIBUSB_ERROR_NO_DEVICE, -4)
    crash,         // dfu-util dies of a segmentation fault at 40 %
    keeps_flash,   // the download succeeds and the flash stays as it was
};

class Units {
public:
    virtual ~Units() = default;

    // The attached units in listing order, before dfu-util's match options are applied. A
    // listing (`scan` true) may change what the next run finds.
    virtual std::vector<Unit> attached(bool scan) = 0;
    // Printed after the banner in place of the listing lines.
    virtual std::optional<QByteArray> verbatim_listing() { return std::nullopt; }
    virtual bool listing_fails() { return false; }
    // This user may not open the unit ("Cannot open DFU device").
    virtual bool denied(const Unit& unit) = 0;
    // Another program has claimed the unit's interface.
    virtual bool claimed(const Unit& unit) = 0;

    // The memory behind an alternate setting, from its base address on; what lies beyond the
    // image reads erased.
    virtual QByteArray memory(const Unit& unit, int alt) = 0;
    virtual void store_flash(const Unit& unit, const QByteArray& image) = 0;
    // Called before the unit's flash is read or written; `file` is the transfer's file.
    virtual void prepare_flash(const Unit& unit, const QString& file) = 0;

    virtual UploadFault upload_fault(const Unit& unit, int alt, qint64 address, qint64 length) = 0;
    virtual bool failed_upload_leaves_file() { return false; }
    virtual DownloadFault download_fault(const Unit& unit) = 0;
    // The unit went during a download; `flash` is what it holds now.
    virtual void lose(const Unit& unit, const QByteArray& flash) = 0;

    // How long a transfer takes, from its first progress update to its last.
    virtual qint64 upload_ms(int alt, qint64 address, qint64 bytes) = 0;
    virtual qint64 download_ms(qint64 bytes) = 0;
};

} // namespace simulator
