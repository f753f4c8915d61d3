#pragma once

#include "core/setup/studyfiles.h"

#include <QDialog>
#include <QList>

class QKeyEvent;
class QLabel;
class QPushButton;
class StudyPageView;

// The study's instruction pages, one after another, between the subject form and the task.
// Back returns a page; Next on the last page accepts the window, which starts the task.
// Closing it otherwise rejects it; Escape does not close it.
class frmInstructions : public QDialog {
    Q_OBJECT
public:
    explicit frmInstructions(QList<StudyPage> pages, QWidget *parent = nullptr);

    void cmdBack_Click();
    void cmdNext_Click();
    int currentPage() const { return m_current; } // counted from 0

protected:
    void keyPressEvent(QKeyEvent *event) override;

private:
    void showCurrentPage();

    QList<StudyPage> m_pages;
    int m_current = 0;
    StudyPageView *m_brwPage = nullptr;
    QLabel *m_lblPage = nullptr;
    QPushButton *m_cmdBack = nullptr;
    QPushButton *m_cmdNext = nullptr;
};
