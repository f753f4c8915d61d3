#include "app/writeretry.h"

#include "core/common/dialogs.h"

#include <QObject>
#include <QPointer>
#include <QTimer>

namespace {

constexpr int quickTries = 3;
constexpr int quickPauseMs = 50;

// One more try after `failures` failed ones; a failure goes on with the retries.
void tryAgain(QObject *context, Dialogs &dialogs, WriteAttempt attempt, int failures) {
    QString error;
    if (attempt.write(&error))
        attempt.done(true);
    else
        retryFailedWrite(context, dialogs, std::move(attempt), error, failures + 1);
}

} // namespace

void writeWithRetries(QObject *context, Dialogs &dialogs, WriteAttempt attempt) {
    tryAgain(context, dialogs, std::move(attempt), 0);
}

void retryFailedWrite(QObject *context, Dialogs &dialogs, WriteAttempt attempt,
                      const QString &error, int failures) {
    if (failures < quickTries) {
        QTimer::singleShot(quickPauseMs, context, [context, &dialogs, attempt, failures] {
            tryAgain(context, dialogs, attempt, failures);
        });
        return;
    }
    if (!attempt.mayAsk()) {
        attempt.done(false);
        return;
    }
    const QPointer<QObject> alive(context);
    dialogs.ask(QStringLiteral("Recording failed"),
                QStringLiteral("%1: %2\nRetry? (No to quit)").arg(attempt.what, error),
                Dialogs::Icon::Critical, [alive, context, &dialogs, attempt, failures](bool yes) {
                    if (!alive)
                        return;
                    if (yes)
                        tryAgain(context, dialogs, attempt, failures - 1);
                    else
                        attempt.done(false);
                });
}
