#pragma once
// A whole file's bytes for a test to compare; empty when the file cannot be read.

#include <QByteArray>
#include <QString>

QByteArray read_all(const QString& path);
