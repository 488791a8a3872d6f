#include "simulator/program/state_file.h"

#include <QSaveFile>

namespace simulator {

bool replace_file(const QString& path, const QByteArray& bytes) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit();
}

} // namespace simulator
