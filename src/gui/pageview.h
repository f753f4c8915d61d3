#pragma once

#include "core/setup/studyfiles.h"
#include "gui/twips.h"

#include <QTextBrowser>
#include <QUrl>

// A study's page as a participant reads it: the page's own HTML, its images found beside it,
// and links that lead nowhere (a participant cannot leave the page by a click).
inline QTextBrowser *makePageView(QWidget *parent) {
    auto *view = new QTextBrowser(parent);
    view->setObjectName(QStringLiteral("brwPage"));
    view->setOpenLinks(false);
    view->setFont(designFont(12));
    view->setMinimumSize(px(12000), px(7500));
    return view;
}

inline void showPage(QTextBrowser *view, const StudyPage &page) {
    view->setSearchPaths({page.folder});
    view->document()->setBaseUrl(QUrl::fromLocalFile(page.folder + QLatin1Char('/')));
    view->setHtml(page.html);
}
