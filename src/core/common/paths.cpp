#include "core/common/paths.h"

#include <QCoreApplication>

QString paths::dataDirectory() {
    return QCoreApplication::applicationDirPath() + QStringLiteral("/data");
}
