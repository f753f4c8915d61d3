#include "core/common/platformnotices.h"

#include <QString>
#include <QtGlobal>

namespace {

QtMessageHandler qtHandler = nullptr;

bool isKnownPlatformNotice(const QString &message) {
    return message == QLatin1String("This plugin does not support propagateSizeHints()") ||
           message == QLatin1String("This plugin does not support raise()") ||
           message.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR not set"));
}

void filterPlatformNotices(QtMsgType type, const QMessageLogContext &context,
                           const QString &message) {
    if (type == QtWarningMsg && isKnownPlatformNotice(message))
        return;
    qtHandler(type, context, message);
}

} // namespace

void silencePlatformNotices() {
    qtHandler = qInstallMessageHandler(filterPlatformNotices);
}
