#pragma once

#include "app/dialogs.h"

// The program's real message boxes.
class MessageBoxes : public Dialogs {
public:
    void inform(const QString &title, const QString &text, Icon icon) override;
    bool ask(const QString &title, const QString &text, Icon icon) override;
};
