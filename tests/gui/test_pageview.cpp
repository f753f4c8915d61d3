#include "core/setup/studyfiles.h"
#include "gui/pageview.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPixmap>
#include <QTemporaryDir>
#include <QtTest>

// A page shows the study's own images; one outside the study's files is never read, however
// the page names it.
class TestPageView : public QObject {
    Q_OBJECT

private slots:
    void showsOnlyTheStudysOwnImages();
};

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

QTEST_MAIN(TestPageView)
#include "test_pageview.moc"
