#pragma once
// Asks before the page control changes its tab, whichever way the user asks
// for the change: a click on a tab, a tab's accelerator, the arrow keys and
// the wheel on the tab bar, Ctrl+Tab and Ctrl+Shift+Tab (Ctrl+PgDown and
// Ctrl+PgUp). A refused change leaves the tab in front and nothing follows.
// Changes the program makes itself (a tab hidden by the software version)
// are not asked about.
#include <QObject>

#include <functional>

class QKeyEvent;
class QTabBar;
class QTabWidget;

namespace r310::ui {

class TabChangeGuard : public QObject {
    Q_OBJECT
public:
    // from, to: tab indices. Returns whether the change may go ahead.
    using Rule = std::function<bool(int from, int to)>;

    explicit TabChangeGuard(QTabWidget &tabs);

    // No rule: every change is allowed.
    void setRule(Rule rule) { rule_ = std::move(rule); }

    // Moves to tab `to` when it can be shown and the rule allows it.
    bool requestTab(int to);
    // The visible, enabled tab `step` places away from the current one,
    // wrapping around, or the current index when there is none.
    int neighbour(int step) const;
    // Ctrl+Tab, Ctrl+Shift+Tab, Ctrl+PgDown, Ctrl+PgUp; true when the key was one of them.
    bool handleTabKey(const QKeyEvent &event);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool selectable(int index) const;
    bool allowed(int to) const;
    bool filterTabBar(QEvent *event);
    int mnemonicTab(const QKeySequence &key) const;
    int edgeTab(int step) const;

    QTabWidget &tabs_;
    QTabBar &bar_;
    Rule rule_;
};

} // namespace r310::ui
