#include "TabChangeGuard.h"

#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QShortcutEvent>
#include <QTabBar>
#include <QTabWidget>
#include <QWheelEvent>

namespace r310::ui {

TabChangeGuard::TabChangeGuard(QTabWidget &tabs) : QObject(&tabs), tabs_(tabs), bar_(*tabs.tabBar())
{
    tabs_.installEventFilter(this);
    bar_.installEventFilter(this);
}

bool TabChangeGuard::selectable(int index) const
{
    return index >= 0 && index < tabs_.count() && tabs_.isTabVisible(index) && tabs_.isTabEnabled(index);
}

bool TabChangeGuard::allowed(int to) const
{
    return !rule_ || rule_(tabs_.currentIndex(), to);
}

bool TabChangeGuard::requestTab(int to)
{
    if (!selectable(to) || to == tabs_.currentIndex())
        return false;
    if (!allowed(to))
        return false;
    tabs_.setCurrentIndex(to);
    return true;
}

int TabChangeGuard::neighbour(int step) const
{
    const int count = tabs_.count();
    const int current = tabs_.currentIndex();
    for (int i = 1; i < count; ++i) {
        const int index = ((current + step * i) % count + count) % count;
        if (selectable(index))
            return index;
    }
    return current;
}

int TabChangeGuard::edgeTab(int step) const
{
    const int count = tabs_.count();
    for (int i = 0; i < count; ++i) {
        const int index = step < 0 ? i : count - 1 - i;
        if (selectable(index))
            return index;
    }
    return tabs_.currentIndex();
}

bool TabChangeGuard::handleTabKey(const QKeyEvent &event)
{
    if (!(event.modifiers() & Qt::ControlModifier))
        return false;
    const bool shift = event.modifiers() & Qt::ShiftModifier;
    int step = 0;
    switch (event.key()) {
    case Qt::Key_Tab:
        step = shift ? -1 : 1;
        break;
    case Qt::Key_Backtab:
    case Qt::Key_PageUp:
        step = -1;
        break;
    case Qt::Key_PageDown:
        step = 1;
        break;
    default:
        return false;
    }
    requestTab(neighbour(step));
    return true;
}

int TabChangeGuard::mnemonicTab(const QKeySequence &key) const
{
    for (int i = 0; i < tabs_.count(); ++i) {
        if (QKeySequence::mnemonic(tabs_.tabText(i)) == key)
            return i;
    }
    return -1;
}

bool TabChangeGuard::filterTabBar(QEvent *event)
{
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton)
            return false;
        const int to = bar_.tabAt(mouse->position().toPoint());
        // A press on the tab in front, or beside the tabs, changes nothing.
        if (!selectable(to) || to == tabs_.currentIndex())
            return false;
        return !allowed(to);
    }
    case QEvent::Shortcut: {
        const int to = mnemonicTab(static_cast<QShortcutEvent *>(event)->key());
        if (!selectable(to) || to == tabs_.currentIndex())
            return false;
        return !allowed(to);
    }
    case QEvent::Wheel: {
        const QPoint delta = static_cast<QWheelEvent *>(event)->angleDelta();
        const int amount = delta.y() != 0 ? delta.y() : delta.x();
        if (amount != 0)
            requestTab(neighbour(amount > 0 ? -1 : 1));
        return true;
    }
    case QEvent::KeyPress: {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier))
            return false;
        switch (key->key()) {
        case Qt::Key_Left:
        case Qt::Key_Up:
            requestTab(neighbour(-1));
            return true;
        case Qt::Key_Right:
        case Qt::Key_Down:
            requestTab(neighbour(1));
            return true;
        case Qt::Key_Home:
            requestTab(edgeTab(-1));
            return true;
        case Qt::Key_End:
            requestTab(edgeTab(1));
            return true;
        default:
            return false;
        }
    }
    default:
        return false;
    }
}

bool TabChangeGuard::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == &bar_)
        return filterTabBar(event);
    if (watched == &tabs_ && event->type() == QEvent::KeyPress)
        return handleTabKey(*static_cast<QKeyEvent *>(event));
    return false;
}

} // namespace r310::ui
