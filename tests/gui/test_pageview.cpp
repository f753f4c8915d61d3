#include "core/setup/studyfiles.h"
#include "gui/pageview.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTextBlock>
#include <QTextFragment>
#include <QtTest>

// A page shows the study's own images; one outside the study's files is never read, however
// the page names it.
class TestPageView : public QObject {
    Q_OBJECT

private slots:
    void showsOnlyTheStudysOwnImages();
    void imagesFitThePageKeepingTheirProportions();
};

namespace {

// The size each image of the view is drawn at, and whether it stands in a paragraph of its
// own, by the name the page gives it.
struct DrawnImage {
    QSizeF size;
    bool alone = false;
};
QMap<QString, DrawnImage> drawnImages(const QTextDocument *document) {
    QMap<QString, DrawnImage> images;
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next()) {
        for (auto part = block.begin(); !part.atEnd(); ++part) {
            if (!part.fragment().charFormat().isImageFormat())
                continue;
            const QTextImageFormat image = part.fragment().charFormat().toImageFormat();
            images[image.name()] = {QSizeF(image.width(), image.height()),
                                    block.text().trimmed().size() == 1};
        }
    }
    return images;
}

} // namespace

void TestPageView::showsOnlyTheStudysOwnImages() {
    QTemporaryDir root;
    const QString data = root.filePath(QStringLiteral("data"));
    const QString secret = root.filePath(QStringLiteral("secret.png"));
    QVERIFY(QDir().mkpath(data + QStringLiteral("/instructions")));
    QVERIFY(QImage(4, 4, QImage::Format_RGB32).save(data + QStringLiteral("/instructions/a.png")));
    QVERIFY(QImage(8, 8, QImage::Format_RGB32).save(secret));
    QVERIFY(QImage(8, 8, QImage::Format_RGB32).save(data + QStringLiteral("/Data.txt"), "PNG"));
    QVERIFY(QFile::link(secret, data + QStringLiteral("/instructions/link.png")));
    const QStringList outside{QStringLiteral("../secret.png"), QUrl::fromLocalFile(secret).url(),
                              secret, QStringLiteral("Data.txt"),
                              QStringLiteral("instructions/link.png")};
    QFile end(data + QStringLiteral("/end.html"));
    QVERIFY(end.open(QIODevice::WriteOnly));
    end.write("<img src=\"instructions/a.png\">");
    for (const QString &source : outside)
        end.write(QStringLiteral("<img src=\"%1\">").arg(source).toUtf8());
    end.close();

    StudyPage page;
    QString error;
    QVERIFY2(ReadStudyPage(data, end.fileName(), &page, &error), qPrintable(error));
    StudyPageView view(nullptr);
    view.showPage(page);
    view.show();
    const auto sizeOf = [&view](const QString &source) {
        return view.document()
            ->resource(QTextDocument::ImageResource, QUrl(source))
            .value<QPixmap>()
            .size();
    };
    QCOMPARE(sizeOf(QStringLiteral("instructions/a.png")), QSize(4, 4));
    for (const QString &source : outside)
        QVERIFY2(sizeOf(source) != QSize(8, 8), qPrintable(source));
}

// README's page: a picture between two paragraphs, wider than any page.
void TestPageView::imagesFitThePageKeepingTheirProportions() {
    QTemporaryDir root;
    const QString folder = root.filePath(QStringLiteral("instructions"));
    QVERIFY(QDir().mkpath(folder));
    QVERIFY(QImage(3000, 1000, QImage::Format_RGB32).save(folder + QStringLiteral("/wide.png")));
    QVERIFY(QImage(40, 20, QImage::Format_RGB32).save(folder + QStringLiteral("/small.png")));
    QVERIFY(
        QFile::copy(folder + QStringLiteral("/small.png"), folder + QStringLiteral("/sized.png")));
    StudyPage page{QStringLiteral("<p>Before.</p>\n<img src=\"wide.png\">\n<p>Between.</p>"
                                  "<img src=\"sized.png\" width=\"2000\"><p>After "
                                  "<img src=\"small.png\"> inline.</p>"),
                   folder,
                   {folder}};
    StudyPageView view(nullptr);
    view.resize(600, 500);
    view.showPage(page);
    view.show();
    QVERIFY(QTest::qWaitForWindowExposed(&view));

    QMap<QString, DrawnImage> images = drawnImages(view.document());
    const QSizeF wide = images.value(QStringLiteral("wide.png")).size;
    QVERIFY2(wide.width() < view.viewport()->width() && wide.width() > 400,
             qPrintable(QString::number(wide.width())));
    QCOMPARE(qRound(wide.width() / wide.height()), 3);
    QVERIFY(images.value(QStringLiteral("wide.png")).alone);
    QCOMPARE(view.horizontalScrollBar()->maximum(), 0);
    // The page's own width, too large, is fitted as well; the image in a sentence stays there.
    const QSizeF sized = images.value(QStringLiteral("sized.png")).size;
    QVERIFY(sized.width() < view.viewport()->width());
    QCOMPARE(qRound(sized.width() / sized.height()), 2);
    QCOMPARE(images.value(QStringLiteral("small.png")).size, QSizeF(40, 20));
    QVERIFY(!images.value(QStringLiteral("small.png")).alone);

    view.resize(1200, 900); // the page grows: so does the picture, up to the page's width
    QTRY_VERIFY(drawnImages(view.document()).value(QStringLiteral("wide.png")).size.width() >
                wide.width());
    QCOMPARE(view.horizontalScrollBar()->maximum(), 0);
}

QTEST_MAIN(TestPageView)
#include "test_pageview.moc"
