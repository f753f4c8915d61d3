#pragma once

#include <QFont>
#include <QRect>
#include <QStringList>
#include <QtMath>

// Window positions are laid out in twips, at 15 twips per pixel (1440 per inch at 96
// logical DPI); Qt scales logical pixels with the screen's scale factor.
constexpr double twipsPerPixel = 15.0;

inline int px(double twips) {
    return qRound(twips / twipsPerPixel);
}

inline QRect twipsRect(double left, double top, double width, double height) {
    return QRect(px(left), px(top), px(width), px(height));
}

// The windows' captions were sized for a narrow sans serif; its metric twins stand in.
inline QFont designFont(double pointSize, bool bold = false) {
    QFont font;
    font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("Microsoft Sans Serif"),
                      QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}
