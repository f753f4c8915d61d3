#pragma once

#include "report/htmlreport.h"
#include "report/runs.h"

// Draws a run's plots with Qt Charts and writes each as an SVG document. Needs a
// QApplication; no window is shown. No text from the data folder goes into a plot, since the
// chart titles and legends take rich text and the SVG writer copies its title unescaped.
RunPlots plotRun(const Run &run);
