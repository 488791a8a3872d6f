#pragma once
// The DFU state machine of the STM32F4 ROM bootloader, as DFU 1.1 and ST's DfuSe (AN3156)
// describe it, behind one interface's control requests: DNLOAD with its DfuSe commands (set
// address, page erase, mass erase; read unprotect is refused), data blocks and the
// zero-length DNLOAD that leaves; UPLOAD; GETSTATUS with the busy time it announces as
// bwPollTimeout; CLRSTATUS, GETSTATE, ABORT; a USB reset. A request the state does not allow is
// stalled and leaves the unit in dfuERROR. Its faults are what a bench sees go wrong.
// Not thread-safe: its unit (unit.h) guards it.

#include "dfu_protocol.h"
#include "memories.h"

#include <QByteArray>

#include <chrono>

namespace virtual_unit {

// What the unit does with one control transfer.
struct Reply {
    enum class Kind {
        answered, // an IN transfer carries `data`
        stalled,  // the unit stalls endpoint 0 (LIBUSB_ERROR_PIPE)
        gone,     // the unit is no longer on the bus (LIBUSB_ERROR_NO_DEVICE)
        held,     // the unit never answers: libusb gives up when its time-out passes
    };
    Kind kind = Kind::answered;
    QByteArray data;
};

// Set by a test; -1 (or false) for none. Download bytes are those written since the unit was
// first plugged in, upload bytes those read since the upload's address was set. An unplug or a
// hang strikes once; the others strike every time.
struct Faults {
    qint64 unplug_after_download_bytes = -1; // pulled out at the DNLOAD that would pass them
    bool unplug_while_busy = false;          // ... or at the GETSTATUS that follows it
    qint64 hang_after_download_bytes = -1;   // that DNLOAD is never answered (a stall)
    qint64 upload_fails_after_bytes = -1;    // an UPLOAD beyond them is stalled
    qint64 wrong_byte_at = -1;               // this flash address reads back with bit 0 flipped
    bool erase_fails = false;                // every page erase ends in errERASE
    bool errors_at_once = false;    // a failed operation is told at once, not after its busy time
    bool claimed_elsewhere = false; // another program holds the interface
};

// The busy times the unit announces in GETSTATUS after each operation.
struct Timing {
    int erase_page_ms = 0;
    int mass_erase_ms = 0;
    int write_ms = 0;
    int manifest_ms = 0;
};

// What the unit was asked to do since it was plugged in.
struct Tally {
    int page_erases = 0;
    int mass_erases = 0;
    int data_blocks = 0; // DNLOAD blocks written
    qint64 bytes_written = 0;
    int bytes_over_unerased = 0; // written without an erase of their page before
    int upload_blocks = 0;
    int early_polls = 0; // GETSTATUS sent before the announced poll timeout had passed
    int stalls = 0;
    int usb_resets = 0;
};

class Bootloader {
public:
    Reply request(const Setup& setup, const QByteArray& out);
    void select_alt(int alt) { alt_ = alt; }
    void usb_reset();
    void power_up();

    State state() const { return state_; }
    Status status() const { return status_; }
    // Gone after leaving (it runs its firmware) or when a fault pulled it out.
    bool gone() const { return gone_; }
    bool left() const { return left_; }

    Memories memories;
    Faults faults;
    Timing timing;
    Tally tally;

private:
    using Clock = std::chrono::steady_clock;
    enum class Pending { none, command, data, manifest };

    Reply dnload(quint16 block, const QByteArray& data);
    Reply upload(quint16 block, quint16 length);
    Reply getstatus();
    Reply return_to_idle(bool allowed);
    Reply stall();
    Reply status_reply(int poll_ms);
    // The operation a DNLOAD asked for, carried out when GETSTATUS comes: its status and busy time.
    std::pair<Status, int> execute();
    std::pair<Status, int> command();
    std::pair<Status, int> write();
    bool fault_stops(qint64 bytes, Reply* reply);

    State state_ = State::dfu_idle;
    Status status_ = Status::ok;
    int alt_ = 0;
    qint64 address_ = 0;
    Pending pending_ = Pending::none;
    quint16 pending_block_ = 0;
    QByteArray pending_data_;
    Status result_ = Status::ok; // of the operation under way (dfuDNBUSY)
    Clock::time_point busy_until_;
    bool gone_ = false;
    bool left_ = false;
    bool unplug_at_poll_ = false;
};

} // namespace virtual_unit
