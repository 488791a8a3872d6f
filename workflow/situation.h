#pragma once
// What the worker sees on the unit side, beyond the record of a connected unit: a plain value
// that the worker publishes under its mutex and the GUI thread copies (see SM_A::situation).

#include "dfu/failure_cause.h"

#include <QString>

struct Situation {
    enum class Kind {
        no_unit,          // nothing listed
        several_units,    // more than one unit listed: none is used
        listing_failed,   // the listing failed, or could not open the unit it found: `failure`
        unreadable,       // one unit, its OTP area could not be read: `failure`; read again
        no_record,        // one unit, its OTP area read but without a usable product record;
                          // not read again while it stays attached
        connected,        // one unit read and announced by sig_DevConn
        no_working_files, // nothing runs: the working directory could not be prepared
    };
    Kind kind = Kind::no_unit;
    DFU::Failure failure;
    // The last download into the connected unit, when it failed; kept until a verification
    // matches or another unit is read.
    DFU::Failure last_download;
    // Why the last verification could not read the firmware back (cause none: it read it).
    DFU::Failure read_back;
    // no_working_files: the directory in which they were to be made, and the system's reason.
    QString where;
    QString why;

    bool operator==(const Situation& o) const {
        return kind == o.kind && failure == o.failure && last_download == o.last_download &&
               read_back == o.read_back && where == o.where && why == o.why;
    }
    bool operator!=(const Situation& o) const { return !(*this == o); }

    // One line for the log: the kind, then whatever else is known.
    operator QString() const;
};
