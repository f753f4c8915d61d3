#pragma once

#include <QString>

// Every message box of the program goes through this interface, so tests can answer them.
// The program uses MessageBoxes, which also decides what a box does when nobody can see it.
class Dialogs {
public:
    enum class Icon { None, Question, Warning, Critical };

    virtual ~Dialogs() = default;
    // An OK box.
    virtual void inform(const QString &title, const QString &text, Icon icon = Icon::None) = 0;
    // A Yes/No box; true for Yes.
    virtual bool ask(const QString &title, const QString &text, Icon icon = Icon::None) = 0;
    // Whether a person can see and answer a window. Without one, no window that waits for a
    // person (the login screen, the subject form, the questionnaire) may open.
    virtual bool someoneCanAnswer() const = 0;
};

// The program's title, which its own message boxes carry.
inline QString programTitle() {
    return QStringLiteral("Fluxmere");
}

// Writes "fluxmere: " and the text to standard error at once, one line per line of text.
void printError(const QString &text);
