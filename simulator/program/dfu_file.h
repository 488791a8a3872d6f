#pragma once
// A file to download, loaded as dfu-util 0.9 loads it: the whole file and what its DFU suffix
// says. A file without a valid suffix is still loaded, with dfu-util's two warnings.

#include <QByteArray>
#include <QString>
#include <QtGlobal>

namespace simulator {

struct DfuFile {
    QByteArray bytes;
    int suffix_length = 0; // 0 without a valid suffix
    quint16 dfu_version = 0;
    quint16 vendor = 0xffff; // 0xffff: any
    quint16 product = 0xffff;

    // The file without its suffix.
    QByteArray payload() const { return bytes.left(bytes.size() - suffix_length); }
};

// Ends the run with dfu-util's message and code when the file cannot be read or its suffix
// length is impossible.
DfuFile load_dfu_file(const QString& path);

} // namespace simulator
