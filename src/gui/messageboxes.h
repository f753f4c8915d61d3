#pragma once

#include "core/common/dialogs.h"

// The program's real message boxes. Without a screen they print to standard error instead.
class MessageBoxes : public Dialogs {
public:
    void inform(const QString &title, const QString &text, Icon icon = Icon::None,
                Done done = {}) override;
    void ask(const QString &title, const QString &text, Icon icon, Answer answer) override;
    bool someoneCanAnswer() const override;
};

// True when windows are drawn where nobody sees them (Qt's offscreen or minimal platform, or
// no GUI at all): a modal box there would wait for ever.
bool nobodyCanSeeWindows();
