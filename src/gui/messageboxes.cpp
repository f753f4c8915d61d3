#include "gui/messageboxes.h"

#include <QGuiApplication>
#include <QMessageBox>

namespace {

QMessageBox::Icon toIcon(Dialogs::Icon icon) {
    switch (icon) {
    case Dialogs::Icon::Question:
        return QMessageBox::Question;
    case Dialogs::Icon::Warning:
        return QMessageBox::Warning;
    case Dialogs::Icon::Critical:
        return QMessageBox::Critical;
    case Dialogs::Icon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

QString titled(const QString &title, const QString &text) {
    return title.isEmpty() ? text : title + QStringLiteral(": ") + text;
}

} // namespace

bool nobodyCanSeeWindows() {
    if (qobject_cast<QGuiApplication *>(QCoreApplication::instance()) == nullptr)
        return true;
    const QString platform = QGuiApplication::platformName();
    return platform == QLatin1String("offscreen") || platform == QLatin1String("minimal");
}

// Nobody is there to click, so a box would wait for ever while a model's messages queue
// behind it. Its text goes to standard error and the seam answers as a careful operator
// would: OK to information, and No to every question, since each question of the program
// is put so that No stops rather than goes on without data ("Retry? (No to quit)").
// Critical messages are printed with a screen too, so that a log keeps them.
void MessageBoxes::inform(const QString &title, const QString &text, Icon icon) {
    if (nobodyCanSeeWindows() || icon == Icon::Critical)
        printError(titled(title, text));
    if (nobodyCanSeeWindows())
        return;
    QMessageBox box(toIcon(icon), title, text, QMessageBox::Ok);
    box.exec();
}

bool MessageBoxes::ask(const QString &title, const QString &text, Icon icon) {
    if (nobodyCanSeeWindows()) {
        printError(titled(title, text) + QStringLiteral(" No (nobody can answer)"));
        return false;
    }
    QMessageBox box(toIcon(icon), title, text, QMessageBox::Yes | QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}

bool MessageBoxes::someoneCanAnswer() const {
    return !nobodyCanSeeWindows();
}
