#include "core/common/platformnotices.h"
#include "core/common/qtplatform.h"
#include "report/reportcommand.h"

#include <QGuiApplication>

int main(int argc, char *argv[]) {
    // The plots are drawn with fonts, which need the application object of a GUI. The tool
    // shows no window: unless a platform is asked for it runs offscreen, so that neither a
    // missing display nor one it cannot reach (a DISPLAY left from an ended session) stops it.
    chooseQtPlatform(qtPlatformArgument(argumentsOf(argc, argv)), Windows::NeverShown);
    silencePlatformNotices();
    QGuiApplication app(argc, argv);
    QGuiApplication::setApplicationName(QStringLiteral("fluxmere-report"));
    QGuiApplication::setApplicationVersion(QStringLiteral(FLUXMERE_VERSION));
    const std::optional<ReportOptions> options = parseCommandLine(QGuiApplication::arguments());
    return options ? writeReport(*options) : BadUsage;
}
