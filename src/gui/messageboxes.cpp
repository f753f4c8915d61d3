#include "gui/messageboxes.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <utility>

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

// A box of its own over every window; it deletes itself once closed, and `closed` then hears
// which button closed it (none of them, when it was closed otherwise).
void showBox(QMessageBox::Icon icon, const QString &title, const QString &text,
             QMessageBox::StandardButtons buttons, std::function<void(int button)> closed) {
    auto *box = new QMessageBox(icon, title, text, buttons);
    box->setAttribute(Qt::WA_DeleteOnClose);
    // Shown with show(), not open(): open() makes a box window-modal, and a box without a
    // parent window would then block nothing.
    box->setWindowModality(Qt::ApplicationModal);
    QObject::connect(box, &QMessageBox::finished, qApp, std::move(closed));
    box->show();
}

// Without a box, what it would have said still follows from the event loop, never inside
// the call. The application may be a core one here, hence not qApp.
void later(std::function<void()> step) {
    if (step)
        QTimer::singleShot(0, QCoreApplication::instance(), std::move(step));
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
void MessageBoxes::inform(const QString &title, const QString &text, Icon icon, Done done) {
    if (nobodyCanSeeWindows() || icon == Icon::Critical)
        printError(titled(title, text));
    if (nobodyCanSeeWindows()) {
        later(std::move(done));
        return;
    }
    showBox(toIcon(icon), title, text, QMessageBox::Ok, [done = std::move(done)](int) {
        if (done)
            done();
    });
}

void MessageBoxes::ask(const QString &title, const QString &text, Icon icon, Answer answer) {
    if (nobodyCanSeeWindows()) {
        printError(titled(title, text) + QStringLiteral(" No (nobody can answer)"));
        later([answer = std::move(answer)] { answer(false); });
        return;
    }
    showBox(toIcon(icon), title, text, QMessageBox::Yes | QMessageBox::No,
            [answer = std::move(answer)](int button) { answer(button == QMessageBox::Yes); });
}

bool MessageBoxes::someoneCanAnswer() const {
    return !nobodyCanSeeWindows();
}
