#pragma once

#include "core/common/dialogs.h"
#include "core/engine/periodrunner.h"
#include "core/setup/scenario.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QList>
#include <QMap>
#include <QString>
#include <QTimer>

#include <memory>
#include <utility>

// Message boxes answered by the test: every box is recorded when it is shown; questions take
// the next scripted answer, and No when none is left. As with the program's boxes, the answer
// (and the end of an OK box) follows from the event loop, never inside the call.
class ScriptedDialogs : public Dialogs {
public:
    struct Box {
        QString title;
        QString text;
        bool question = false;
    };
    QList<Box> shown;
    QList<bool> answers;
    // False plays a run where nobody sees the windows, as a headless one.
    bool someoneThere = true;

    void inform(const QString &title, const QString &text, Icon = Icon::None,
                Done done = {}) override {
        shown.append({title, text, false});
        if (done)
            QTimer::singleShot(0, QCoreApplication::instance(), std::move(done));
    }
    void ask(const QString &title, const QString &text, Icon, Answer answer) override {
        shown.append({title, text, true});
        const bool yes = answers.isEmpty() ? false : answers.takeFirst();
        QTimer::singleShot(0, QCoreApplication::instance(),
                           [answer = std::move(answer), yes] { answer(yes); });
    }
    bool someoneCanAnswer() const override { return someoneThere; }
};

// The test scenario: a short run from 2 towards a goal of 4, immediate flows.
inline QMap<QString, QString> defaultSetup() {
    return {{QStringLiteral("MaxTrial"), QStringLiteral("5")},
            {QStringLiteral("InitialAmountInTank"), QStringLiteral("2")},
            {QStringLiteral("GoalLinePoisition"), QStringLiteral("4")},
            {QStringLiteral("InitialBackOrder"), QStringLiteral("0")},
            {QStringLiteral("InitialForwardDischarge"), QStringLiteral("0")},
            {QStringLiteral("MaxNumberOfAScenarioType"), QStringLiteral("100")},
            {QStringLiteral("inFlowDelayValue"), QStringLiteral("1")},
            {QStringLiteral("inFlowDelayLength"), QStringLiteral("100")},
            {QStringLiteral("outFlowDelayValue"), QStringLiteral("1")},
            {QStringLiteral("outFlowDelayLength"), QStringLiteral("100")}};
}

// Writes data/Setup.txt under `folder` from the defaults with `changes` applied; returns
// the setup file's path.
inline QString writeSetup(const QString &folder, const QMap<QString, QString> &changes = {}) {
    QMap<QString, QString> values = defaultSetup();
    for (auto it = changes.begin(); it != changes.end(); ++it)
        values[it.key()] = it.value();
    QDir().mkpath(folder + QStringLiteral("/data"));
    const QString path = folder + QStringLiteral("/data/Setup.txt");
    QFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        for (auto it = values.begin(); it != values.end(); ++it)
            file.write((it.key() + QStringLiteral(" = ") + it.value() + QStringLiteral("\r\n"))
                           .toLatin1());
    }
    return path;
}

// A period runner on the test scenario with `changes`, prepared as Start and start-up
// prepare a run; `pause` (ms) replaces both paced pauses unless it is negative. Its clock
// stands at 15:04:05.
inline std::unique_ptr<PeriodRunner> runnerFor(TaskState &state, const QString &folder,
                                               const QMap<QString, QString> &changes, int pause) {
    SetupFile file(writeSetup(folder, changes));
    LoadScenario(state, file);
    CreateOrderTables(state);
    PrepareTaskState(state);
    if (pause >= 0)
        state.envDelayInterval = state.userDelayInterval = pause;
    auto runner = std::make_unique<PeriodRunner>(state);
    runner->setClock([] { return QTime(15, 4, 5); });
    return runner;
}

// The child control called `name`; a test cannot go on without it.
template <typename T> T *requireChild(const QObject *parent, const char *name) {
    T *found = parent->findChild<T *>(QLatin1String(name));
    if (found == nullptr)
        qFatal("no control %s", name);
    return found;
}
