#pragma once

#include <QString>

// Every message box of the program goes through this interface, so tests can answer them.
// The program uses real message boxes.
class Dialogs {
public:
    enum class Icon { None, Question, Warning, Critical };

    virtual ~Dialogs() = default;
    // An OK box.
    virtual void inform(const QString &title, const QString &text, Icon icon = Icon::None) = 0;
    // A Yes/No box; true for Yes.
    virtual bool ask(const QString &title, const QString &text, Icon icon = Icon::None) = 0;
};

// The program's title, which its own message boxes carry.
inline QString programTitle() {
    return QStringLiteral("Fluxmere");
}
