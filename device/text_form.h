#pragma once
// What the records with a text form share: how the debug stream writes that text, and, for a
// record parsed from bytes, the same parse of a whole file.

#include "files/support_misc.h"

#include <QByteArray>
#include <QDebug>
#include <QString>

namespace Device {

// The text unquoted, as one string; the stream's state (quoting, spacing) is restored
// afterwards. The body of every record's debug-stream operator.
inline QDebug write_text_form(QDebug dbg, const QString& text) {
    QDebugStateSaver saver(dbg);
    dbg.noquote() << text;
    return dbg;
}

// Reads the whole file and parses it; a file that cannot be opened gives the default record,
// silently.
template <typename Record>
Record make_from_file(const QString& path, Record (*parse)(const QByteArray&)) {
    bool ok = false;
    const QByteArray bytes = support_misc::read_binary_file(path, &ok);
    return ok ? parse(bytes) : Record();
}

} // namespace Device
