#include "workflow/situation.h"

namespace {

QString kind_name(Situation::Kind kind) {
    switch (kind) {
    case Situation::Kind::no_unit:
        return QStringLiteral("no unit");
    case Situation::Kind::several_units:
        return QStringLiteral("several units");
    case Situation::Kind::listing_failed:
        return QStringLiteral("listing failed");
    case Situation::Kind::unreadable:
        return QStringLiteral("unit unreadable");
    case Situation::Kind::no_record:
        return QStringLiteral("unit without product record");
    case Situation::Kind::connected:
        return QStringLiteral("unit connected");
    case Situation::Kind::no_working_files:
        return QStringLiteral("no working files");
    }
    return QString();
}

} // namespace

Situation::operator QString() const {
    QString text = kind_name(kind);
    if (failure.cause != DFU::Cause::none)
        text += QStringLiteral(": ") + QString(failure);
    if (last_download.cause != DFU::Cause::none)
        text += QStringLiteral("; last download failed: ") + QString(last_download);
    if (read_back.cause != DFU::Cause::none)
        text += QStringLiteral("; read-back failed: ") + QString(read_back);
    if (kind == Kind::no_working_files)
        text += QStringLiteral(": ") + where + QStringLiteral(": ") + why;
    return text;
}
