#pragma once
// Writing the desired firmware into the unit, reading it back and comparing it byte for byte.

#include "dfu/runner.h"

#include <QString>

namespace DFU {

// Each transfer hands dfu-util's progress updates to on_progress, on the calling thread, and
// acts on the target's unit (the one attached, without a port).

// Writes a DfuSe file (it carries its own addresses); returns dfu-util's exit code.
int download_FW_to_device(const QString& dfu_path, const ProgressCallback& on_progress = {},
                          const RunTarget& target = {});

// Reads `size` bytes of flash from its start into `path`, which is deleted first (dfu-util
// refuses to overwrite a file); returns dfu-util's exit code.
int upload_FW_from_device(const QString& path, int size, const ProgressCallback& on_progress = {},
                          const RunTarget& target = {});

// Reads back as many bytes as `desired_bin` holds into `uploaded_bin`; true only when the two
// files are identical. An unreadable or empty desired image starts no upload.
bool upload_and_compare_FW_bin(const QString& desired_bin, const QString& uploaded_bin,
                               const ProgressCallback& on_progress = {},
                               const RunTarget& target = {});

// True only when both files are readable, non-empty, of one size and byte for byte equal.
bool compare_FW_bin_files(const QString& a, const QString& b);

// The file's size, or -1 when it cannot be opened for reading (or is too large for an int).
int size_of_binary_file(const QString& path);

} // namespace DFU
