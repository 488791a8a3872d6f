#pragma once
// What both programs write into every row of the record about themselves, and how long their
// end waits for the record.

#include "history/attempt.h"

// The carried firmware (its revision, digest and signer's key id), this program's version, the
// host and the user who runs it.
History::Identity bench_identity(const QString& desired_revision);

// How long the end of a program waits for the record to take the last rows.
constexpr int record_exit_wait_ms = 3000;
