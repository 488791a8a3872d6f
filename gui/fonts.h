#pragma once
// The maker's typeface, carried as two embedded OpenType files.

#include <QString>

namespace support {

// The family name Qt reports for the regular face; empty until loaded, or if loading failed.
extern QString orvanta_font_name;

// Registers both faces (once per process) and makes the regular one the application default.
void setup_fonts();
QString load_orvanta_fonts();
QString load_font(const QString& path);
void set_default_font(const QString& family);

} // namespace support
