#pragma once

#include <QSize>
#include <QString>

// Draws every window `factor` times its designed size on screen, fonts and drawing included,
// through Qt's own high-DPI scaling, so that the twip layout keeps its proportions. It must
// be called before the application object is built. The factor replaces a QT_SCALE_FACTOR
// the environment may give: the command line is the more specific wish.
void ScaleWindows(double factor);

// The task window's designed size, the largest of the participant's windows, in pixels.
QSize TaskWindowSize();

// Why windows drawn `factor` times their size do not fit the primary screen (naming the
// largest factor that does), or empty text when they fit. Asked once the application object
// exists, whose screens are already scaled by the factor.
QString ScaleThatDoesNotFit(double factor);
