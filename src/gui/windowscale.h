#pragma once

// Draws every window `factor` times its designed size on screen, fonts and drawing included,
// through Qt's own high-DPI scaling, so that the twip layout keeps its proportions. It must
// be called before the application object is built. The factor replaces a QT_SCALE_FACTOR
// the environment may give: the command line is the more specific wish.
void ScaleWindows(double factor);
