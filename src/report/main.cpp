#include "report/reportcommand.h"

#include <QCoreApplication>

int main(int argc, char *argv[]) {
    // The plots are written as SVG text: the tool needs no display and no platform at all.
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("fluxmere-report"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FLUXMERE_VERSION));
    const std::optional<ReportOptions> options = parseCommandLine(QCoreApplication::arguments());
    return options ? writeReport(*options) : BadUsage;
}
