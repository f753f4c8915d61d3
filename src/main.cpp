#include "setup/paths.h"
#include "setup/scenario.h"
#include "setup/setupfile.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QTextStream out(stdout);
    QTextStream err(stderr);
    TaskState state;
    const QString setup = paths::setupFile(paths::dataDirectory());
    try {
        LoadScenarioParameters(state, setup);
        LoadDelaySettings(state, setup);
        BuildDelayEndTables(state);
    } catch (const SetupError &e) {
        err << e.message() << Qt::endl;
        return 1;
    }
    for (const QString &failure : ValidateScenario(state))
        err << failure << Qt::endl;
    const QString conflict = ScenarioConflict(state);
    if (!conflict.isEmpty()) {
        err << conflict << Qt::endl;
        return 1;
    }
    out << QStringLiteral("Scenario %1: %2 periods, goal %3, initial amount %4, delays %5/%6")
               .arg(setup)
               .arg(state.MaxTrial)
               .arg(state.GoalLinePoisition)
               .arg(state.InitialAmountInTank)
               .arg(state.inFlowTPAfter)
               .arg(state.outFlowTPAfter)
        << Qt::endl;
    return 0;
}
