#include "gui/pageview.h"

#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QPixmap>
#include <QRegularExpression>
#include <QResizeEvent>
#include <QScreen>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextFragment>

#include <algorithm>
#include <utility>

namespace {

// Where an image's size as the page wrote it (or its own, when the page wrote none) is kept
// in its format, so that a page fitted to a smaller window grows again in a larger one.
constexpr int writtenWidthProperty = QTextFormat::UserProperty + 1;
constexpr int writtenHeightProperty = QTextFormat::UserProperty + 2;

// An image may take this share of the page's height, leaving some for the text around it.
constexpr double imageShareOfPage = 0.6;

// Below the page, a window of pages has a row of buttons.
const int roomForButtons = px(900);

QSize naturalSize(const QVariant &resource) {
    switch (resource.typeId()) {
    case QMetaType::QImage:
        return resource.value<QImage>().size();
    case QMetaType::QPixmap:
        return resource.value<QPixmap>().size();
    case QMetaType::QByteArray:
        return QImage::fromData(resource.toByteArray()).size();
    default:
        return {};
    }
}

// An image written between paragraphs, as a line of its own: the document would otherwise
// add it to the paragraph before it and set it on that paragraph's last line of text.
QString imagesBetweenBlocksAsParagraphs(const QString &html) {
    static const QRegularExpression between(
        QStringLiteral("((?:^|<body\\b[^>]*>|</(?:p|h[1-6]|ul|ol|dl|div|table|blockquote|pre|"
                       "center)\\s*>)\\s*)((?:<img\\b[^>]*>\\s*)+)"),
        QRegularExpression::CaseInsensitiveOption);
    QString blocks = html;
    return blocks.replace(between, QStringLiteral("\\1<p>\\2</p>"));
}

} // namespace

StudyPageView::StudyPageView(QWidget *parent)
    : QTextBrowser(parent) {
    setObjectName(QStringLiteral("brwPage"));
    setOpenLinks(false);
    setFont(designFont(12));
    setMinimumSize(px(4800), px(3000));
    document()->setUndoRedoEnabled(false); // fitting the images is no edit to undo
}

void StudyPageView::showPage(const StudyPage &page) {
    m_page = page;
    document()->setBaseUrl(QUrl::fromLocalFile(page.folder + QLatin1Char('/')));
    setHtml(imagesBetweenBlocksAsParagraphs(page.html));
    fitImages();
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

// Most of the screen's free area, leaving room for the window's buttons and frame.
QSize StudyPageView::sizeHint() const {
    const QScreen *shownOn = screen() ? screen() : QGuiApplication::primaryScreen();
    if (!shownOn)
        return {px(12000), px(7500)};
    const QSize room = shownOn->availableGeometry().size();
    return {int(room.width() * pageShareOfScreen),
            int(room.height() * pageShareOfScreen) - roomForButtons};
}

void StudyPageView::resizeEvent(QResizeEvent *event) {
    QTextBrowser::resizeEvent(event);
    fitImages();
}

// The page's width and height as if the vertical scroll bar were shown, so that the bar
// coming or going never changes the images' size.
QSizeF StudyPageView::roomForImages() const {
    const qreal margins = 2 * document()->documentMargin() + 2;
    const qreal width = contentsRect().width() - verticalScrollBar()->sizeHint().width();
    const qreal height = contentsRect().height();
    return {std::max<qreal>(width - margins, 16), std::max<qreal>(height - margins, 16)};
}

QSizeF StudyPageView::writtenSize(const QTextImageFormat &image) {
    if (image.hasProperty(writtenWidthProperty))
        return {image.doubleProperty(writtenWidthProperty),
                image.doubleProperty(writtenHeightProperty)};
    const QSize own =
        naturalSize(document()->resource(QTextDocument::ImageResource, QUrl(image.name())));
    qreal width = image.width() > 0 ? image.width() : own.width();
    qreal height = image.height() > 0 ? image.height() : own.height();
    // One side written: the other keeps the image's proportions, as the document draws it.
    if (image.width() > 0 && image.height() <= 0 && own.width() > 0)
        height = own.height() * width / own.width();
    if (image.height() > 0 && image.width() <= 0 && own.height() > 0)
        width = own.width() * height / own.height();
    return {width, height};
}

void StudyPageView::fitImages() {
    const QSizeF room = roomForImages();
    QList<std::pair<QTextFragment, QTextImageFormat>> changes;
    for (QTextBlock block = document()->begin(); block.isValid(); block = block.next()) {
        for (auto part = block.begin(); !part.atEnd(); ++part) {
            const QTextFragment fragment = part.fragment();
            if (!fragment.charFormat().isImageFormat())
                continue;
            QTextImageFormat image = fragment.charFormat().toImageFormat();
            const QSizeF written = writtenSize(image);
            if (written.width() <= 0 || written.height() <= 0)
                continue; // nothing to draw, or not read yet: the document's own way
            const qreal share = std::min({1.0, room.width() / written.width(),
                                          room.height() * imageShareOfPage / written.height()});
            const QSizeF fitted = written * share;
            if (qFuzzyCompare(image.width(), fitted.width()) &&
                qFuzzyCompare(image.height(), fitted.height()))
                continue;
            image.setProperty(writtenWidthProperty, written.width());
            image.setProperty(writtenHeightProperty, written.height());
            image.setWidth(fitted.width());
            image.setHeight(fitted.height());
            changes.append({fragment, image});
        }
    }
    for (const auto &[fragment, image] : std::as_const(changes)) {
        QTextCursor cursor(document());
        cursor.setPosition(fragment.position());
        cursor.setPosition(fragment.position() + fragment.length(), QTextCursor::KeepAnchor);
        cursor.setCharFormat(image);
    }
}
