#pragma once

#include <QDir>
#include <QString>
#include <QWidget>

// Saves a picture of the window under the build folder, to look at the layout by eye.
inline QString saveScreenshot(QWidget *widget, const QString &name) {
    const QString folder = QStringLiteral(FLUXMERE_SCREENSHOT_DIR);
    QDir().mkpath(folder);
    const QString path = folder + QLatin1Char('/') + name + QStringLiteral(".png");
    widget->grab().save(path);
    return path;
}
