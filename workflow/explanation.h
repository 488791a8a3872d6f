#pragma once
// What the line under the status line explains: decided from where the upgrade stands and what
// the worker sees, and worded by the wiring with the texts of the settings.

#include "dfu/failure_cause.h"
#include "workflow/situation.h"

#include <QString>

struct Explanation {
    enum class Kind {
        none,               // nothing to add to the status line
        several_units,      // connect only one unit
        no_access,          // install the USB rule and reconnect the unit
        busy,               // close the other program that uses the unit
        unreadable,         // `failure`: reconnect the unit
        listing_failed,     // `failure`: reconnect the unit
        no_record,          // this program upgrades only units of the desired product
        other_product,      // likewise
        upgrade_incomplete, // `failure`: reconnect the unit and click install again
        firmware_differs,   // the read-back differs from the desired revision; install offered
        upgrade_incomplete_differs, // both of the last two; `failure` as for the first
        read_back_failed,           // `failure`: the firmware could not be read back
        no_working_files,           // `where`, `why`: nothing runs
    };
    Kind kind = Kind::none;
    DFU::Failure failure;
    QString where;
    QString why;

    bool operator==(const Explanation& o) const {
        return kind == o.kind && failure == o.failure && where == o.where && why == o.why;
    }
    bool operator!=(const Explanation& o) const { return !(*this == o); }
};

// Where the upgrade procedure stands, as far as the explanation is concerned.
enum class Stage {
    no_unit,     // B1
    offered,     // B2
    downloading, // B3
    verifying,   // B4
    matches,     // B6
    differs,     // B7
    refused,     // B8
};

Explanation explain(Stage stage, const Situation& situation);
