#include "gui/pageview.h"

#include <QFile>

StudyPageView::StudyPageView(QWidget *parent)
    : QTextBrowser(parent) {
    setObjectName(QStringLiteral("brwPage"));
    setOpenLinks(false);
    setFont(designFont(12));
    setMinimumSize(px(12000), px(7500));
}

void StudyPageView::showPage(const StudyPage &page) {
    m_page = page;
    document()->setBaseUrl(QUrl::fromLocalFile(page.folder + QLatin1Char('/')));
    setHtml(page.html);
}

QVariant StudyPageView::loadResource(int type, const QUrl &name) {
    Q_UNUSED(type);
    const PageReference reference = JudgePageReference(m_page, name);
    if (reference.verdict == PageReference::Verdict::Inline)
        return QVariant(); // the document reads a data: URL itself
    if (reference.verdict == PageReference::Verdict::Shown) {
        QFile file(reference.path);
        if (file.open(QIODevice::ReadOnly))
            return file.readAll();
    }
    // Empty, not invalid: for an invalid one the document would read the file itself.
    return QByteArray();
}
