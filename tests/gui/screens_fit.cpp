// Opens every window a participant sees, one after another, on the display it is given (an
// X server of the screen size to try), and says of each whether it fits: its frame inside
// the screen, no caption cut off, no page or questionnaire that needs a scroll bar for the
// sample study below. With --sheet it also saves a picture of the screen under each window,
// all of them side by side in one PNG.
//
//   screens_fit [--language de] [--scale F] [--fullscreen] [--sheet FILE [--shots FOLDER]]
//
// Prints one line per window and ends with status 0 when every window fits, 1 otherwise.

#include "core/common/language.h"
#include "core/engine/periodrunner.h"
#include "core/setup/questionnairefile.h"
#include "core/setup/studyfiles.h"
#include "gui/StudyQuestionnaire.h"
#include "gui/Tasks1.h"
#include "gui/frmConsent.h"
#include "gui/frmEndScreen.h"
#include "gui/frmInstructions.h"
#include "gui/frmKrugel.h"
#include "gui/frmLogin.h"
#include "gui/frmNewSubject.h"
#include "gui/frmPasswordAuth.h"
#include "gui/fullscreen.h"
#include "gui/windowscale.h"
#include "support/testsupport.h"

#include <QAbstractButton>
#include <QAbstractScrollArea>
#include <QApplication>
#include <QCheckBox>
#include <QCommandLineParser>
#include <QDir>
#include <QLabel>
#include <QPainter>
#include <QPixmap>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>

#include <functional>
#include <memory>

namespace {

struct Options {
    QString language;
    double scale = 1;
    bool fullScreen = false;
    QString sheet;
    QString shots; // a folder for each screen's picture at its full size, to look at closely
};

// The sample study: README's page with a picture between its paragraphs, larger than any
// screen, a consent page, an end screen and a questionnaire.
class SampleStudy {
public:
    SampleStudy() {
        data = m_root.filePath(QStringLiteral("data"));
        QDir().mkpath(data + QStringLiteral("/instructions"));
        drawTank(data + QStringLiteral("/instructions/tank.png"));
        write(QStringLiteral("instructions/01.html"),
              "<h2>Welcome</h2>\n<p>Keep the tank's amount between the two lines. An order "
              "acts only after a delay.</p>\n<img src=\"tank.png\">\n<p>Press Next when you "
              "have read this page.</p>\n");
        write(QStringLiteral("consent.html"),
              "<h2>Consent to take part</h2>\n<p>In this study you control the amount of a "
              "tank for some minutes. Taking part is voluntary, and you may stop at any time "
              "without giving a reason.</p>\n<p>Your answers are kept under a code, never "
              "under your name, and are used for research only.</p>\n<p>Do you agree to take "
              "part?</p>\n");
        write(QStringLiteral("end.html"),
              "<h1>Thank you, {subject}!</h1>\n<p>You were in the band in {periods_in_band} "
              "periods: your payment is {payment}\n(bonus {bonus}). Please wait for the "
              "experimenter.</p>\n");
        questions = ParseQuestionnaire(
                        "Difficulty | rating | 1-7; very easy; very hard | How difficult was "
                        "the task?\nPlan | choice | none; a rough one; a clear one | Did you "
                        "follow a plan?\nStrategy | text | | What did you do to keep the "
                        "amount near the goal?\n")
                        .questions;
    }

    StudyPage page(const QString &name) const {
        StudyPage read;
        QString error;
        if (!ReadStudyPage(data, data + QLatin1Char('/') + name, &read, &error))
            qFatal("%s", qPrintable(error));
        return read;
    }

    QString data;
    QList<StudyQuestion> questions;

private:
    void write(const QString &name, const char *text) const {
        QFile file(data + QLatin1Char('/') + name);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) < 0)
            qFatal("cannot write %s", qPrintable(file.fileName()));
    }

    static void drawTank(const QString &path) {
        QImage image(2400, 1500, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.setPen(QPen(Qt::black, 12));
        painter.drawRect(700, 150, 1000, 1200);
        painter.fillRect(706, 700, 988, 644, QColor(0, 0, 255));
        painter.setPen(QPen(QColor(255, 0, 0), 16));
        painter.drawLine(600, 600, 1800, 600);
        if (!painter.end() || !image.save(path))
            qFatal("cannot write %s", qPrintable(path));
    }

    QTemporaryDir m_root;
};

// Whether a caption needs more room than its control gives it.
bool captionCutOff(const QWidget *control) {
    if (const auto *label = qobject_cast<const QLabel *>(control)) {
        if (label->text().isEmpty() || Qt::mightBeRichText(label->text()))
            return false;
        const QRect room = label->contentsRect();
        if (label->wordWrap())
            return label->heightForWidth(room.width()) > room.height() + 1;
        return label->fontMetrics().size(Qt::TextShowMnemonic, label->text()).width() >
               room.width() + 1;
    }
    if (const auto *button = qobject_cast<const QAbstractButton *>(control)) {
        if (button->text().isEmpty())
            return false;
        if (qobject_cast<const QRadioButton *>(button) || qobject_cast<const QCheckBox *>(button))
            return button->sizeHint().width() > button->width() + 1;
        const int border = 8; // a push button's frame and padding on both sides
        return button->fontMetrics().size(Qt::TextShowMnemonic, button->text()).width() + border >
               button->width();
    }
    return false;
}

QString shown(const QRect &rect) {
    return QStringLiteral("%1x%2 at (%3, %4)")
        .arg(rect.width())
        .arg(rect.height())
        .arg(rect.x())
        .arg(rect.y());
}

QString nameOf(const QWidget *control) {
    if (!control->objectName().isEmpty())
        return control->objectName();
    const auto *button = qobject_cast<const QAbstractButton *>(control);
    const auto *label = qobject_cast<const QLabel *>(control);
    const QString text = button ? button->text() : label ? label->text() : QString();
    return QStringLiteral("%1 \"%2\"")
        .arg(QLatin1String(control->metaObject()->className()), text.left(40));
}

// A bar that is there to be used: some of the content is out of sight.
bool scrolls(const QScrollBar *bar) {
    return bar->isVisibleTo(bar->window()) && bar->maximum() > bar->minimum();
}

QStringList problemsOf(QWidget *window) {
    QStringList problems;
    const QRect screen = window->screen()->availableGeometry();
    if (!screen.contains(window->frameGeometry()))
        problems.append(QStringLiteral("its frame %1 is not inside the screen's %2")
                            .arg(shown(window->frameGeometry()), shown(screen)));
    const QList<QWidget *> controls = window->findChildren<QWidget *>();
    for (QWidget *control : controls) {
        if (!control->isVisibleTo(window))
            continue;
        const QRect place(control->mapTo(window, QPoint(0, 0)), control->size());
        if (!window->rect().contains(place))
            problems.append(QStringLiteral("%1 (%2) reaches past the window")
                                .arg(nameOf(control), shown(place)));
        if (captionCutOff(control))
            problems.append(QStringLiteral("the caption of %1 is cut off").arg(nameOf(control)));
        const auto *area = qobject_cast<QAbstractScrollArea *>(control);
        if (area && (scrolls(area->horizontalScrollBar()) || scrolls(area->verticalScrollBar())))
            problems.append(QStringLiteral("%1 needs a scroll bar").arg(nameOf(control)));
    }
    return problems;
}

// Pictures of the screen under each window, half their size, four in a row.
class Sheet {
public:
    void add(QScreen *screen) { m_shots.append(screen->grabWindow(0).toImage()); }
    const QImage &last() const { return m_shots.last(); }

    bool save(const QString &path) const {
        if (m_shots.isEmpty())
            return false;
        const QSize tile = m_shots.first().size() / 2;
        const int across = std::min<int>(4, int(m_shots.size()));
        const int down = int(m_shots.size() + across - 1) / across;
        QImage sheet(tile.width() * across, tile.height() * down, QImage::Format_RGB32);
        sheet.fill(Qt::darkGray);
        QPainter painter(&sheet);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        for (int index = 0; index < m_shots.size(); ++index) {
            const QRect place(QPoint(index % across * tile.width(), index / across * tile.height()),
                              tile);
            painter.drawImage(place.adjusted(1, 1, -1, -1), m_shots[index]);
        }
        painter.end();
        QDir().mkpath(QFileInfo(path).absolutePath());
        return sheet.save(path);
    }

private:
    QList<QImage> m_shots;
};

// Shows one window as the program does, waits until it is drawn and judges it.
bool judge(const QString &name, QWidget *window, const Options &options, Sheet &sheet) {
    if (options.fullScreen)
        PrepareFullScreen(window);
    window->show();
    const bool exposed = QTest::qWaitForWindowExposed(window);
    QTest::qWait(300); // the page's images are fitted and the layout settled
    QStringList problems = problemsOf(window);
    if (!exposed)
        problems.prepend(QStringLiteral("it was never shown"));
    if (!options.sheet.isEmpty()) {
        sheet.add(window->screen());
        if (!options.shots.isEmpty())
            sheet.last().save(QDir(options.shots).filePath(name + QStringLiteral(".png")));
    }
    QTextStream out(stdout);
    out << name << ": "
        << (problems.isEmpty() ? QStringLiteral("fits") : problems.join(QStringLiteral("; ")))
        << Qt::endl;
    window->hide();
    return problems.isEmpty();
}

Options readOptions(const QStringList &arguments) {
    QCommandLineParser parser;
    const QCommandLineOption language(QStringLiteral("language"), QString(),
                                      QStringLiteral("code"));
    const QCommandLineOption scale(QStringLiteral("scale"), QString(), QStringLiteral("factor"));
    const QCommandLineOption fullScreen(QStringLiteral("fullscreen"));
    const QCommandLineOption sheet(QStringLiteral("sheet"), QString(), QStringLiteral("file"));
    const QCommandLineOption shots(QStringLiteral("shots"), QString(), QStringLiteral("folder"));
    parser.addOptions({language, scale, fullScreen, sheet, shots});
    parser.process(arguments);
    Options options;
    options.language = parser.value(language);
    options.scale = parser.isSet(scale) ? parser.value(scale).toDouble() : 1;
    options.fullScreen = parser.isSet(fullScreen);
    options.sheet = parser.value(sheet);
    options.shots = parser.value(shots);
    return options;
}

QStringList argumentsOf(int argc, char **argv) {
    QStringList arguments;
    for (int index = 0; index < argc; ++index)
        arguments.append(QString::fromLocal8Bit(argv[index]));
    return arguments;
}

} // namespace

int main(int argc, char **argv) {
    const Options options = readOptions(argumentsOf(argc, argv));
    if (options.scale != 1)
        ScaleWindows(options.scale);
    QApplication application(argc, argv);
    if (!options.language.isEmpty() && !InstallLanguage(options.language))
        qFatal("no translation %s", qPrintable(options.language));
    const SampleStudy study;
    ScriptedDialogs dialogs;
    TaskState state;
    QTemporaryDir runFolder;
    const std::unique_ptr<PeriodRunner> runner = runnerFor(state, runFolder.path(), {}, -1);
    runner->load();
    EndScreenValues values{7.45, 2.45, 49, QStringLiteral("ada")};
    StudyPage end = study.page(QStringLiteral("end.html"));
    end.html = FillEndScreen(end.html, values);

    const QList<std::pair<QString, std::function<QWidget *()>>> windows = {
        {QStringLiteral("frmLogin"),
         [] {
             return new frmLogin;
         }},
        {QStringLiteral("frmNewSubject"),
         [] {
             return new frmNewSubject(QStringLiteral("ada"));
         }},
        {QStringLiteral("frmConsent"),
         [&] {
             return new frmConsent(study.page(QStringLiteral("consent.html")));
         }},
        {QStringLiteral("frmInstructions"),
         [&] {
             return new frmInstructions({study.page(QStringLiteral("instructions/01.html"))});
         }},
        {QStringLiteral("frmKrugel"),
         [&] {
             return new frmKrugel(runner->view(), dialogs);
         }},
        {QStringLiteral("frmPasswordAuth"),
         [&] {
             auto *window = new frmPasswordAuth(dialogs);
             window->setFillOnActivate(false);
             return window;
         }},
        {QStringLiteral("frmPasswordAuth-password-only"),
         [&] {
             auto *window = new frmPasswordAuth(dialogs);
             window->setFillOnActivate(false);
             window->setAskUsername(false);
             return window;
         }},
        {QStringLiteral("Tasks1"),
         [&] {
             return new Tasks1(4, 0.1, 0.1, dialogs);
         }},
        {QStringLiteral("StudyQuestionnaire"),
         [&] {
             return new StudyQuestionnaire(study.questions, dialogs);
         }},
        {QStringLiteral("frmEndScreen"),
         [&] {
             return new frmEndScreen(end);
         }},
    };
    bool allFit = true;
    Sheet sheet;
    for (const auto &[name, make] : windows) {
        const std::unique_ptr<QWidget> window(make());
        allFit = judge(name, window.get(), options, sheet) && allFit;
    }
    if (!options.sheet.isEmpty() && !sheet.save(options.sheet))
        qFatal("cannot write %s", qPrintable(options.sheet));
    return allFit ? 0 : 1;
}
