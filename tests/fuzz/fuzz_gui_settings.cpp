// libFuzzer target: the GUI settings parser (Settings::GUI) on arbitrary JSON texts. Beyond the
// sanitizers' checks it traps when a text form does not carry its entry's fields verbatim
// (a field holding "%1" must never be substituted again) or a lookup misses an entry.

#include "gui/gui_settings.h"

#include "fuzz_support.h"
#include "json_text.h"

#include <algorithm>

using fuzz::check;

FUZZ_QUIET_INITIALIZER()

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > fuzz::max_input_size)
        return 0;
    const QString json = fuzz::utf8(data, size);
    // What the product does with any other text (no entries) its test shows; here Qt would leak.
    if (!fuzz::JsonText::accepts(json.toUtf8()))
        return 0;
    const Settings::GUI gui(json);
    check(gui.valid);
    const QString text = gui;
    check(text.startsWith(QLatin1String("GUI settings:\n")) && text.endsWith(QLatin1Char('\n')));
    qDebug() << gui;

    for (const Settings::CircleData& c : gui.circles) {
        const QString form = c;
        check(form.startsWith(QStringLiteral("Circle '") + c.name + QStringLiteral("': (")));
        check(form.endsWith(QStringLiteral(", color=") + c.color.name(QColor::HexArgb)));
    }
    for (const Settings::LabelData& l : gui.labels) {
        const QString form = l;
        check(form.startsWith(QStringLiteral("Label '") + l.id + QStringLiteral("': (")));
        check(form.endsWith(QStringLiteral(": '") + l.text + QLatin1Char('\'')));
    }
    // Lookups are linear: a few suffice, and the run stays fast with many labels.
    for (std::size_t i = 0; i < std::min<std::size_t>(gui.labels.size(), 8); ++i) {
        const Settings::LabelData& l = gui.labels[i];
        const Settings::LabelData* found = gui.label(l.id);
        check(found != nullptr && found->id == l.id && found <= &l);
        check(gui.text(l.id) == found->text);
    }
    return 0;
}
