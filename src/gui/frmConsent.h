#pragma once

#include "core/common/dialogs.h"
#include "core/setup/studyfiles.h"

#include <QDialog>

class QCloseEvent;
class QKeyEvent;
class QPushButton;

// The study's consent page (consent.html) with "I agree" and "I do not agree". Agreeing says
// agreed() and accepts the window; not agreeing says declined() and rejects it. Only the two
// buttons answer: the close box, Escape and Enter leave the window open, so that nobody
// agrees or declines by chance. Every control's objectName is its design name.
class frmConsent : public QDialog {
    Q_OBJECT
public:
    explicit frmConsent(const StudyPage &page, QWidget *parent = nullptr);

    // I agree.
    void cmdAgree_Click();
    // I do not agree.
    void cmdDecline_Click();

    // The polite words for a person who has declined: "Thank you. You have chosen not to take
    // part.", in the language installed.
    static QString declinedText();

signals:
    void agreed();
    void declined();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    bool m_answered = false;
    QPushButton *m_cmdAgree = nullptr;
    QPushButton *m_cmdDecline = nullptr;
};

// Tells a person who declined that the study ends here, in an OK box with the program's
// title; `done` follows once the box is closed.
void TellConsentDeclined(Dialogs &dialogs, Dialogs::Done done = {});
