#include "core/common/platformnotices.h"
#include "report/reportcommand.h"

#include <QApplication>

int main(int argc, char *argv[]) {
    // The plots are drawn off screen, so the tool runs where there is no display; a platform
    // the caller chose is kept.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    silencePlatformNotices();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("fluxmere-report"));
    QApplication::setApplicationVersion(QStringLiteral(FLUXMERE_VERSION));
    const std::optional<ReportOptions> options = parseCommandLine(QApplication::arguments());
    return options ? writeReport(*options) : BadUsage;
}
