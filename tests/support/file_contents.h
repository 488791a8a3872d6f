#pragma once
// A whole file's bytes for a test to compare or to set up: read_all gives an empty array when the
// file cannot be read; write_all replaces the file and says whether every byte was written.

#include <QByteArray>
#include <QString>

QByteArray read_all(const QString& path);
bool write_all(const QString& path, const QByteArray& bytes);
