#include "gui/frmEndScreen.h"

#include "core/common/dialogs.h"
#include "gui/pageview.h"

#include <QKeyEvent>
#include <QVBoxLayout>

frmEndScreen::frmEndScreen(const StudyPage &page, QWidget *parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("frmEndScreen"));
    setWindowTitle(programTitle());
    StudyPageView *view = makePageView(this);
    showPage(view, page);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(view);
    resize(sizeHint());
}

void frmEndScreen::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Q && event->modifiers() == Qt::ControlModifier) {
        accept();
        return;
    }
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
