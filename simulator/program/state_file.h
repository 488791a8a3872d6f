#pragma once
// Writes into the state directories: a file is replaced in one step, so that a run or a test
// reading it at the same moment sees the old bytes or the new, never half of them.

#include <QByteArray>
#include <QString>

namespace simulator {

bool replace_file(const QString& path, const QByteArray& bytes);

} // namespace simulator
