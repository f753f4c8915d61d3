#include "core/engine/periodrunner.h"
#include "gui/frmKrugel.h"
#include "gui/windowscale.h"
#include "support/screenshot.h"
#include "support/testsupport.h"

#include <QApplication>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

// The task window under --scale 1.5: its layout in logical pixels is the designed one, and it
// is drawn half as large again, fonts and all.
class TestWindowScale : public QObject {
    Q_OBJECT

private slots:
    void taskWindowIsDrawnLargerWithItsLayoutKept() {
        QTemporaryDir folder;
        TaskState state;
        ScriptedDialogs dialogs;
        auto runner = runnerFor(state, folder.path(), {}, -1);
        runner->load();
        frmKrugel window(runner->view(), dialogs);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));

        QCOMPARE(window.size(), QSize(1072, 684));
        QCOMPARE(window.findChild<QLabel *>(QStringLiteral("lblAmountStatusVal"))->geometry(),
                 QRect(960, 136, 97, 33));
        const QPixmap picture = window.grab();
        QCOMPARE(picture.devicePixelRatio(), 1.5);
        QCOMPARE(picture.size(), QSize(1608, 1026));
        saveScreenshot(&window, QStringLiteral("frmKrugel-scale-1.5"));
    }
};

int main(int argc, char *argv[]) {
    ScaleWindows(1.5);
    QApplication app(argc, argv);
    TestWindowScale test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_windowscale.moc"
