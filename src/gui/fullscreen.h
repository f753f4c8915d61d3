#pragma once

class QWidget;

// Makes a participant's window, not yet shown, fill the screen when it is shown: nothing else
// of the desktop is in sight. The window's designed page keeps its size in the middle of the
// screen, on the window's own background; a laid-out window keeps its layout's size there.
void PrepareFullScreen(QWidget *window);
