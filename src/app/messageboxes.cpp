#include "app/messageboxes.h"

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

} // namespace

void MessageBoxes::inform(const QString &title, const QString &text, Icon icon) {
    QMessageBox box(toIcon(icon), title, text, QMessageBox::Ok);
    box.exec();
}

bool MessageBoxes::ask(const QString &title, const QString &text, Icon icon) {
    QMessageBox box(toIcon(icon), title, text, QMessageBox::Yes | QMessageBox::No);
    return box.exec() == QMessageBox::Yes;
}
