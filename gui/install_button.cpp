#include "gui/install_button.h"

#include <QDebug>

InstallButton::InstallButton(QWidget* parent) : QPushButton(parent) {
    setFlat(false);
    setEnabled(true);
    setMinimumHeight(30);
    setObjectName(QStringLiteral("GUI_8"));
    connect(this, &QPushButton::clicked, this, [] { qInfo() << "Install clicked"; },
            Qt::DirectConnection);
}
