#include "gui/windowscale.h"

#include <QByteArray>
#include <QtGlobal>

void ScaleWindows(double factor) {
    qputenv("QT_SCALE_FACTOR", QByteArray::number(factor));
}
