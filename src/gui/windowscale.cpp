#include "gui/windowscale.h"

#include "gui/twips.h"

#include <QByteArray>
#include <QGuiApplication>
#include <QScreen>
#include <QtGlobal>

#include <algorithm>
#include <cmath>

void ScaleWindows(double factor) {
    qputenv("QT_SCALE_FACTOR", QByteArray::number(factor));
}

QSize TaskWindowSize() {
    return {px(16080), px(10260)};
}

QString ScaleThatDoesNotFit(double factor) {
    const QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen)
        return {};
    // In the scaled application a screen's size is its pixels over the factor.
    const QSize room = screen->availableGeometry().size();
    const QSize window = TaskWindowSize();
    if (window.width() <= room.width() && window.height() <= room.height())
        return {};
    const double fits = factor * std::min(double(room.width()) / window.width(),
                                          double(room.height()) / window.height());
    // A scaled screen's logical size is rounded up: its pixels are the product rounded down.
    const auto pixels = [factor](int length) {
        return int(std::floor(length * factor + 1e-9));
    };
    return QStringLiteral("--scale %1 makes the task window %2x%3 pixels, larger than the "
                          "screen's %4x%5: the largest factor that fits is %6.")
        .arg(factor)
        .arg(pixels(window.width()))
        .arg(pixels(window.height()))
        .arg(pixels(room.width()))
        .arg(pixels(room.height()))
        .arg(std::floor(fits * 100) / 100);
}
