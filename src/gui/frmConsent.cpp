#include "gui/frmConsent.h"

#include "gui/pageview.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QPushButton>
#include <QVBoxLayout>

#include <utility>

frmConsent::frmConsent(const StudyPage &page, QWidget *parent)
    : QDialog(parent) {
    setObjectName(QStringLiteral("frmConsent"));
    setWindowTitle(tr("Consent"));
    setFont(designFont(10));
    StudyPageView *view = makePageView(this);
    showPage(view, page);
    const auto button = [this](const char *name, const QString &caption) {
        auto *control = new QPushButton(caption, this);
        control->setObjectName(QLatin1String(name));
        control->setAutoDefault(false);
        control->setFont(designFont(12));
        // Large enough that nobody takes one for the other.
        control->setMinimumSize(control->sizeHint() + QSize(px(600), px(150)));
        return control;
    };
    m_cmdDecline = button("cmdDecline", tr("I do not agree"));
    m_cmdAgree = button("cmdAgree", tr("I agree"));

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_cmdDecline);
    buttons->addWidget(m_cmdAgree);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(view);
    layout->addLayout(buttons);
    resize(sizeHint());

    connect(m_cmdAgree, &QPushButton::clicked, this, &frmConsent::cmdAgree_Click);
    connect(m_cmdDecline, &QPushButton::clicked, this, &frmConsent::cmdDecline_Click);
}

void frmConsent::cmdAgree_Click() {
    if (std::exchange(m_answered, true))
        return;
    emit agreed();
    accept();
}

void frmConsent::cmdDecline_Click() {
    if (std::exchange(m_answered, true))
        return;
    emit declined();
    reject();
}

QString frmConsent::declinedText() {
    return tr("Thank you. You have chosen not to take part.");
}

void frmConsent::keyPressEvent(QKeyEvent *event) {
    if (event->key() == Qt::Key_Escape || event->key() == Qt::Key_Return ||
        event->key() == Qt::Key_Enter) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmConsent::closeEvent(QCloseEvent *event) {
    event->ignore();
}

void TellConsentDeclined(Dialogs &dialogs, Dialogs::Done done) {
    dialogs.inform(programTitle(), frmConsent::declinedText(), Dialogs::Icon::None,
                   std::move(done));
}
