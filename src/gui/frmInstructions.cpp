#include "gui/frmInstructions.h"

#include "gui/pageview.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

frmInstructions::frmInstructions(QList<StudyPage> pages, QWidget *parent)
    : QDialog(parent)
    , m_pages(std::move(pages)) {
    setObjectName(QStringLiteral("frmInstructions"));
    setWindowTitle(tr("Instructions"));
    setFont(designFont(10));
    m_brwPage = makePageView(this);
    m_lblPage = new QLabel(this);
    m_lblPage->setObjectName(QStringLiteral("lblPage"));
    m_cmdBack = new QPushButton(tr("Back"), this);
    m_cmdBack->setObjectName(QStringLiteral("cmdBack"));
    m_cmdBack->setAutoDefault(false);
    m_cmdNext = new QPushButton(tr("Next"), this);
    m_cmdNext->setObjectName(QStringLiteral("cmdNext"));
    m_cmdNext->setAutoDefault(false);

    auto *buttons = new QHBoxLayout;
    buttons->addWidget(m_lblPage);
    buttons->addStretch();
    buttons->addWidget(m_cmdBack);
    buttons->addWidget(m_cmdNext);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_brwPage);
    layout->addLayout(buttons);
    resize(sizeHint());

    connect(m_cmdBack, &QPushButton::clicked, this, &frmInstructions::cmdBack_Click);
    connect(m_cmdNext, &QPushButton::clicked, this, &frmInstructions::cmdNext_Click);
    showCurrentPage();
}

void frmInstructions::cmdBack_Click() {
    if (m_current == 0)
        return;
    --m_current;
    showCurrentPage();
}

void frmInstructions::cmdNext_Click() {
    if (m_current + 1 >= m_pages.size()) {
        accept();
        return;
    }
    ++m_current;
    showCurrentPage();
}

void frmInstructions::showCurrentPage() {
    if (m_pages.isEmpty())
        return;
    showPage(m_brwPage, m_pages[m_current]);
    m_lblPage->setText(tr("Page %1 of %2").arg(m_current + 1).arg(m_pages.size()));
    m_cmdBack->setEnabled(m_current > 0);
    m_cmdNext->setFocus();
}

void frmInstructions::keyPressEvent(QKeyEvent *event) {
    // A key pressed by chance never skips the pages: only the buttons turn them.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
