#include "gui/fullscreen.h"

#include <QEvent>
#include <QGridLayout>
#include <QScreen>
#include <QWidget>

#include <algorithm>

namespace {

// Keeps a laid-out window's layout at the size it was designed at, in the middle of the
// window, by growing the layout's margins whenever the window is resized.
class LayoutCentring : public QObject {
public:
    LayoutCentring(QWidget *window, QLayout *layout)
        : QObject(window)
        , m_layout(layout)
        , m_margins(layout->contentsMargins())
        , m_designed(designedSize(window, layout)) {}

    bool eventFilter(QObject *watched, QEvent *event) override {
        if (event->type() == QEvent::Resize) {
            const QSize room = static_cast<QWidget *>(watched)->size() - m_designed;
            const int across = std::max(0, room.width() / 2);
            const int down = std::max(0, room.height() / 2);
            m_layout->setContentsMargins(m_margins + QMargins(across, down, across, down));
        }
        return QObject::eventFilter(watched, event);
    }

private:
    // The size the window was given, when it was given one: a scroll area's own wish is small.
    static QSize designedSize(const QWidget *window, const QLayout *layout) {
        const QSize wished = layout->sizeHint();
        return window->testAttribute(Qt::WA_Resized) ? wished.expandedTo(window->size()) : wished;
    }

    QLayout *m_layout;
    QMargins m_margins;
    QSize m_designed;
};

// A window whose controls stand at fixed places gets them on a page of its designed size,
// which a layout holds in the middle. The page keeps their order, so what lay above another
// control still does; the controls are found by name as before.
void centreDesignedPage(QWidget *window) {
    auto *page = new QWidget(window);
    page->setObjectName(QStringLiteral("designedPage"));
    page->setFixedSize(window->size());
    const QObjectList children = window->children();
    for (QObject *child : children) {
        auto *control = qobject_cast<QWidget *>(child);
        if (!control || control == page || control->isWindow())
            continue;
        const bool hidden = control->isHidden();
        const QRect place = control->geometry();
        control->setParent(page);
        control->setGeometry(place);
        control->setVisible(!hidden);
    }
    auto *layout = new QGridLayout(window);
    layout->setContentsMargins(QMargins());
    layout->addWidget(page, 0, 0, Qt::AlignCenter);
}

} // namespace

void PrepareFullScreen(QWidget *window) {
    if (QLayout *layout = window->layout())
        window->installEventFilter(new LayoutCentring(window, layout));
    else
        centreDesignedPage(window);
    window->setMinimumSize(0, 0);
    window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    // Placed already: a dialog would otherwise centre itself on its parent when shown.
    window->setGeometry(window->screen()->geometry());
    window->setWindowState(window->windowState() | Qt::WindowFullScreen);
}
