#pragma once
// The button that starts an upgrade; its caption comes from the settings entry "8b2".

#include <QPushButton>

class InstallButton : public QPushButton {
    Q_OBJECT
public:
    explicit InstallButton(QWidget* parent = nullptr);
};
