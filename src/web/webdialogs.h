#pragma once

#include "core/common/dialogs.h"

// The web server has nobody at its own screen: a message goes to standard error, a question
// is answered No (a write that keeps failing is given up, and its sitting hears so).
class ServerDialogs : public Dialogs {
public:
    void inform(const QString &title, const QString &text, Icon, Done done) override {
        printError(title + QStringLiteral(": ") + text);
        if (done)
            done();
    }
    void ask(const QString &title, const QString &text, Icon, Answer answer) override {
        printError(title + QStringLiteral(": ") + text + QStringLiteral(" (answered No)"));
        if (answer)
            answer(false);
    }
    bool someoneCanAnswer() const override { return false; }
};
