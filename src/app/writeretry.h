#pragma once

#include <QString>

#include <functional>

class Dialogs;
class QObject;

// A write that fails is tried again twice, 50 ms apart (another program may hold the file for
// a moment), then the operator decides: "Recording failed", "Retry? (No to quit)". No, the only
// answer without a screen, gives up. Nothing waits on the event loop meanwhile: `done` follows
// with whether the write was made in the end. `mayAsk` false gives up instead of asking (the
// program is stopping).
struct WriteAttempt {
    std::function<bool(QString *error)> write;
    QString what; // "Period 3 could not be written"
    std::function<void(bool written)> done;
    std::function<bool()> mayAsk = [] {
        return true;
    };
};

// Writes at once; `done` follows inside the call when the first try succeeds.
void writeWithRetries(QObject *context, Dialogs &dialogs, WriteAttempt attempt);
// The first try has failed with `error`: the retries follow.
void retryFailedWrite(QObject *context, Dialogs &dialogs, WriteAttempt attempt,
                      const QString &error, int failures = 1);
