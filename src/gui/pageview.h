#pragma once

#include "core/setup/studyfiles.h"
#include "gui/twips.h"

#include <QTextBrowser>
#include <QUrl>

// A study's page as a participant reads it: the page's own HTML, the images of the study's
// files it names, and links that lead nowhere (a participant cannot leave the page by a
// click). An image or style sheet outside the study's files (the records, setups/, any other
// folder, another machine) is never loaded, whatever the page writes.
class StudyPageView : public QTextBrowser {
public:
    explicit StudyPageView(QWidget *parent);
    void showPage(const StudyPage &page);
    QVariant loadResource(int type, const QUrl &name) override;

private:
    StudyPage m_page;
};

inline StudyPageView *makePageView(QWidget *parent) {
    return new StudyPageView(parent);
}

inline void showPage(StudyPageView *view, const StudyPage &page) {
    view->showPage(page);
}
