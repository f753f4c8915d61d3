#include "core/common/qtplatform.h"

#include <QtGlobal>

namespace {

bool hasNoDisplay() {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    return qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
    return false;
#endif
}

} // namespace

QString qtPlatformArgument(const QStringList &arguments) {
    QString platform; // the last one counts, as for the application object
    for (qsizetype i = 1; i + 1 < arguments.size(); ++i) {
        const QString &argument = arguments.at(i);
        if (argument == QLatin1String("-platform") || argument == QLatin1String("--platform"))
            platform = arguments.at(++i);
    }
    return platform;
}

QString chooseQtPlatform(const QString &requested, Windows windows,
                         bool *offscreenForWantOfDisplay) {
    if (offscreenForWantOfDisplay != nullptr)
        *offscreenForWantOfDisplay = false;
    if (!requested.isEmpty())
        return requested;
    if (qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        return qEnvironmentVariable("QT_QPA_PLATFORM");
    if (windows == Windows::Shown && !hasNoDisplay())
        return QString();
    qputenv("QT_QPA_PLATFORM", "offscreen");
    if (offscreenForWantOfDisplay != nullptr)
        *offscreenForWantOfDisplay = windows == Windows::Shown;
    return QStringLiteral("offscreen");
}

QStringList argumentsOf(int argc, char *argv[]) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments.append(QString::fromLocal8Bit(argv[i]));
    return arguments;
}
