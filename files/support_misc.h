#pragma once
// Small file and platform helpers shared by several subsystems.

#include <QChar>
#include <QDebug>
#include <QString>

namespace support_misc {

enum class Platform : int { Linux = 0, macOS = 1, windows = 2, unknown = 3 };

// True when the program was built with the macro DEBUG defined.
extern const bool compiled_w_DEBUG;

Platform compiled_for_platform();
bool compiled_for_platform(Platform p);
QDebug operator<<(QDebug debug, Platform p);

// Adds execute permission for user, group and others; false when the file is missing.
bool mark_file_executable(const QString& path);

// Removes path when it is a regular file; used before an upload writes it, so that a failed
// upload can never leave an earlier unit's data behind.
void ensure_file_is_deleted(const QString& path);

// The whole file as it is stored; *ok (when given) tells whether it could be opened.
QByteArray read_binary_file(const QString& path, bool* ok = nullptr);

// The whole file up to its first NUL byte, decoded as UTF-8.
// Throws QString("Couldn't open file: <path>") when the file cannot be opened.
QString load_text_file(const QString& path);

// The one place where a build may substitute an outside file for an embedded one.
QString maybe_use_file_instead_of_resource(const QString& path);

QString remove_carriage_returns(const QString& text, QChar c);

// Diagnostic aid: one debug message per entry found under ":resources".
void show_resources();

} // namespace support_misc
