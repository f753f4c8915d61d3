#pragma once

#include "core/setup/studyfiles.h"
#include "gui/twips.h"

#include <QTextBrowser>
#include <QUrl>

class QResizeEvent;

// A study's page as a participant reads it: the page's own HTML, the images of the study's
// files it names, and links that lead nowhere (a participant cannot leave the page by a
// click). An image or style sheet outside the study's files (the records, setups/, any other
// folder, another machine) is never loaded, whatever the page writes.
//
// The page takes a large part of its screen rather than a fixed size, and an image wider or
// taller than the page is drawn smaller, keeping its proportions, so that nobody has to
// scroll sideways to see it.
class StudyPageView : public QTextBrowser {
public:
    explicit StudyPageView(QWidget *parent);
    void showPage(const StudyPage &page);
    QVariant loadResource(int type, const QUrl &name) override;
    QSize sizeHint() const override;

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    void fitImages();
    QSizeF roomForImages() const;
    QSizeF writtenSize(const QTextImageFormat &image);

    StudyPage m_page;
};

// The share of its screen's free area a window of pages takes, in each direction.
constexpr double pageShareOfScreen = 0.8;

inline StudyPageView *makePageView(QWidget *parent) {
    return new StudyPageView(parent);
}

inline void showPage(StudyPageView *view, const StudyPage &page) {
    view->showPage(page);
}
