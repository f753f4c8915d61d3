#include "core/common/dialogs.h"

#include <QStringList>
#include <QTextStream>

void printError(const QString &text) {
    QTextStream err(stderr);
    for (const QString &line : text.split(QLatin1Char('\n')))
        err << "fluxmere: " << line << '\n';
    err.flush();
}
