#include "upgrade/explanation_words.h"

#include "device/product.h"

namespace {

using Kind = Explanation::Kind;

// dfu-util prefixes its own messages with its name; the text around them names it already.
QString without_program_name(const QString& line) {
    static const QString prefix = QStringLiteral("dfu-util: ");
    return line.startsWith(prefix) ? line.mid(prefix.size()) : line;
}

QString cause_words(const DFU::Failure& f, const Settings::Texts& gui) {
    switch (f.cause) {
    case DFU::Cause::none:
        return QString();
    case DFU::Cause::no_access:
        return gui.text(QStringLiteral("cause_no_access"));
    case DFU::Cause::busy:
        return gui.text(QStringLiteral("cause_busy"));
    case DFU::Cause::lost:
        return gui.text(QStringLiteral("cause_lost"));
    case DFU::Cause::refused:
        return gui.text(QStringLiteral("cause_refused"));
    case DFU::Cause::crashed:
        return gui.text(QStringLiteral("cause_crashed"));
    case DFU::Cause::not_started:
        return gui.text(QStringLiteral("cause_not_started")).arg(f.detail);
    case DFU::Cause::other:
        if (f.detail.isEmpty())
            return gui.text(QStringLiteral("cause_other_silent"));
        return gui.text(QStringLiteral("cause_other")).arg(without_program_name(f.detail));
    }
    return QString();
}

QString desired_product(Device::Type type) {
    Device::ProductInfo desired;
    desired.type = type;
    return desired.product_name_full();
}

} // namespace

QString explanation_words(const Explanation& e, const Settings::Texts& gui,
                          Device::Type desired_type, const QString& desired_revision) {
    const QString cause = cause_words(e.failure, gui);
    // Several values are filled in one call: a value's own "%1" is never taken for a placeholder.
    switch (e.kind) {
    case Kind::none:
        return QString();
    case Kind::several_units:
        return gui.text(QStringLiteral("hint_several_units"));
    case Kind::no_access:
        return gui.text(QStringLiteral("hint_no_access"));
    case Kind::busy:
        return gui.text(QStringLiteral("hint_busy"));
    case Kind::unreadable:
        return gui.text(QStringLiteral("hint_unreadable")).arg(cause);
    case Kind::listing_failed:
        return gui.text(QStringLiteral("hint_listing_failed")).arg(cause);
    case Kind::no_record:
        return gui.text(QStringLiteral("hint_no_record")).arg(desired_product(desired_type));
    case Kind::other_product:
        return gui.text(QStringLiteral("hint_other_product")).arg(desired_product(desired_type));
    case Kind::upgrade_incomplete:
        return gui.text(QStringLiteral("hint_upgrade_incomplete")).arg(cause);
    case Kind::firmware_differs:
        return gui.text(QStringLiteral("hint_firmware_differs")).arg(desired_revision);
    case Kind::upgrade_incomplete_differs:
        return gui.text(QStringLiteral("hint_upgrade_incomplete_differs"))
            .arg(cause, desired_revision);
    case Kind::read_back_failed:
        return gui.text(QStringLiteral("hint_read_back_failed")).arg(cause);
    case Kind::no_working_files:
        return gui.text(QStringLiteral("hint_no_working_files")).arg(e.where, e.why);
    }
    return QString();
}
