#pragma once

#include <QString>

#include <functional>

// Every message box of the program goes through this interface, so tests can answer them.
// The program uses MessageBoxes, which also decides what a box does when nobody can see it.
// No box waits in an event loop of its own: each call returns at once, and what the box was
// answered follows later, never inside the call, so the step that asked goes on from there.
class Dialogs {
public:
    enum class Icon { None, Question, Warning, Critical };
    using Done = std::function<void()>;
    using Answer = std::function<void(bool yes)>;

    virtual ~Dialogs() = default;
    // An OK box; `done`, when given, follows once it is closed.
    virtual void inform(const QString &title, const QString &text, Icon icon = Icon::None,
                        Done done = {}) = 0;
    // A Yes/No box; `answer` gets true for Yes. Nobody there to answer means No.
    virtual void ask(const QString &title, const QString &text, Icon icon, Answer answer) = 0;
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
