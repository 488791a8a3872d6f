#pragma once
// Why a dfu-util run failed, read from its exit code and its own words, so that the window can
// say what happened and what to do.

#include "dfu/runner.h"

#include <QDebug>
#include <QString>

namespace DFU {

enum class Cause {
    none,        // the run succeeded
    no_access,   // "Cannot open DFU device 0483:df11" (also in a listing that exits 0)
    busy,        // "Cannot claim interface": another program has the unit
    lost,        // "returned -4", LIBUSB_ERROR_NO_DEVICE, or no unit found when the run began
    refused,     // "returned -9" (LIBUSB_ERROR_PIPE): the unit refused a request
    crashed,     // exit code -1
    not_started, // failed_to_start
    other,       // anything else: `detail` holds dfu-util's last line of standard error
};

struct Failure {
    Cause cause = Cause::none;
    // dfu-util's last line of standard error (empty if it wrote none); for not_started the
    // reason the program could not be started.
    QString detail;

    bool operator==(const Failure& other) const {
        return cause == other.cause && detail == other.detail;
    }
    bool operator!=(const Failure& other) const { return !(*this == other); }
    // For the log: the cause's name, then the detail in parentheses when there is one.
    operator QString() const;
};

Failure classify(const CmdResult& result);

// The cause's name as written in the enumeration ("no_access", ...).
QString to_QString(Cause cause);

// The text form, unquoted; the stream's state is restored.
QDebug operator<<(QDebug dbg, const Failure& failure);

} // namespace DFU
