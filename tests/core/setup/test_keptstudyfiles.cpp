#include "core/setup/keptstudyfiles.h"

#include <QTemporaryDir>
#include <QtTest>

using namespace Qt::StringLiterals;

// A run's study files kept under the identity of their names and contents.
class TestKeptStudyFiles : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString m_data = m_dir.filePath(u"data"_s);
    const QStringList m_files{u"instructions/01.html"_s, u"instructions/tank.png"_s,
                              u"Questionnaire.txt"_s, u"end.html"_s};

    static QByteArray read(const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }
    void write(const QString &name, const QByteArray &contents) {
        QDir().mkpath(QFileInfo(m_data + u'/' + name).path());
        QFile file(m_data + u'/' + name);
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size());
    }
    QString keep(const QStringList &paths) {
        QString id;
        QString error;
        return keepStudyFiles(m_data, paths, &id, &error) ? id : u"refused: "_s + error;
    }

private slots:
    void init() {
        QDir(m_data).removeRecursively();
        for (const QString &name : m_files + QStringList{u"Data.txt"_s, u"Setup.txt"_s})
            write(name, name.toUtf8());
        write(u"../outside.html"_s, "<p>x</p>");
    }

    void theSameFilesGiveTheSameIdAndAnEditANewOne() {
        const QString id = keep(m_files);
        QVERIFY2(QRegularExpression(u"^[0-9a-f]{12}$"_s).match(id).hasMatch(), qPrintable(id));
        const QStringList reordered{m_files[3], m_data + u"/end.html"_s, m_files[2], m_files[1],
                                    m_files[0]};
        QCOMPARE(keep(reordered), id);
        const QString kept = keptStudyFilesPath(m_data, id);
        QCOMPARE(read(kept + u"/instructions/tank.png"_s), QByteArray("instructions/tank.png"));
        write(u"end.html"_s, "changed");
        QVERIFY(keep(m_files) != id && !keep(m_files).startsWith(u"refused"_s));
        QCOMPARE(read(kept + u"/end.html"_s), QByteArray("end.html"));
        write(u"end.html"_s, "end.html");
        QVERIFY(QFile::remove(kept + u"/end.html"_s)); // a kept id is never written again
        QCOMPARE(keep(m_files), id);
        QVERIFY(!QFileInfo::exists(kept + u"/end.html"_s));
    }

    void recordsSetupsAndOutsideFilesAreRefused() {
        for (const QString &path : {u"../outside.html"_s, m_dir.filePath(u"outside.html"_s),
                                    u"Data.txt"_s, u"Setup.txt"_s, u"missing.html"_s})
            QVERIFY2(keep(m_files + QStringList{path}).startsWith(u"refused: "_s),
                     qPrintable(path));
        QVERIFY(!QFileInfo::exists(keptStudyFilesDirectory(m_data)));
        QCOMPARE(keep({}), QString()); // nothing to keep
    }
};

QTEST_GUILESS_MAIN(TestKeptStudyFiles)
#include "test_keptstudyfiles.moc"
