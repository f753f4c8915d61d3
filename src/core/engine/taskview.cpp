#include "core/engine/taskview.h"

#include "core/common/numbers.h"

QString TaskView::figureText(double value) const {
    return drawn ? numbers::figure(value) : QString();
}

QString TaskView::flowCaption(const QString &who, double value) const {
    return drawn ? who + numbers::shortForm(value) : QString();
}
