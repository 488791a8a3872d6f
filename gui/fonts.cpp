#include "gui/fonts.h"

#include <QApplication>
#include <QDebug>
#include <QFont>
#include <QFontDatabase>

namespace support {

QString orvanta_font_name;

namespace {
constexpr int default_point_size = 11;
}

QString load_font(const QString& path) {
    const int id = QFontDatabase::addApplicationFont(path);
    if (id < 0)
        qWarning() << "Unable to load font from " << path;
    const QStringList families = QFontDatabase::applicationFontFamilies(id);
    return families.isEmpty() ? QString() : families.first();
}

QString load_orvanta_fonts() {
    static bool loaded = false;
    if (!loaded) {
        loaded = true;
        static const QString regular = QStringLiteral(":resources/OrvantaSans-Regular.otf");
        static const QString bold = QStringLiteral(":resources/OrvantaSans-Bold.otf");
        orvanta_font_name = load_font(regular);
        load_font(bold); // registered only, so that bold text in the family can use it
    }
    return orvanta_font_name;
}

void set_default_font(const QString& family) {
    if (!family.isEmpty())
        QApplication::setFont(QFont(family, default_point_size));
}

void setup_fonts() {
    orvanta_font_name = load_orvanta_fonts();
    if (!orvanta_font_name.isEmpty()) {
        set_default_font(orvanta_font_name);
        qInfo() << "Load/set default font:" << orvanta_font_name;
    } else {
        qWarning() << "Unable to load/set the Orvanta font as default";
    }
}

} // namespace support
