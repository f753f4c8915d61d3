#pragma once

#include <QString>
#include <QStringList>

// Choosing Qt's platform before the application object exists, so that a program runs
// headless where it has no display rather than let the windowing plugin abort it.

// The command line as text, before an application object exists to give it.
QStringList argumentsOf(int argc, char *argv[]);

// The platform asked for with Qt's own option, "-platform NAME" or "--platform NAME" as the
// application object reads it; empty when none.
QString qtPlatformArgument(const QStringList &arguments);

enum class Windows {
    Shown,     // on the display when there is one
    NeverShown // a tool that only draws into files: it never needs a display
};

// The platform the application object will use: `requested` (the -platform option), else
// QT_QPA_PLATFORM, else the offscreen one when the program shows no window or finds no
// display (neither DISPLAY nor WAYLAND_DISPLAY set), put in QT_QPA_PLATFORM for the
// application object to take. `*offscreenForWantOfDisplay` tells whether it was for want of
// a display. Empty: Qt's default.
QString chooseQtPlatform(const QString &requested, Windows windows,
                         bool *offscreenForWantOfDisplay = nullptr);
