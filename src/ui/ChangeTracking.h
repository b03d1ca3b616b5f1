#pragma once
// Unsaved changes per settings group, held as the enabled state of the
// group's set button: a user's edit or click in the group enables it, a
// fresh read of the group (or clearing the display) disables it.
//
// Only the user's own signals count as edits (textEdited, clicked, a radio
// item clicked): the window filling or emptying a field never fires them, so
// a read leaves its group clean and clearing the display does not re-enable
// what it disabled. A default that a field check writes into a field is a
// change of the program on the user's behalf and calls MarkChanged itself.
#include <DecodedValues.h>

#include <QObject>

class QPushButton;

namespace r310::ui {

struct MainWidgets;

// The set button of a settings group: ButtonCostID, ButtonSetGW, ButtonSetSig, ButtonHWSet.
QPushButton *SetButton(const MainWidgets &widgets, SettingsGroup group);

class ChangeTracking : public QObject {
    Q_OBJECT
public:
    // Connects the groups' widgets to their set buttons.
    ChangeTracking(const MainWidgets &widgets, QObject *parent = nullptr);

    bool Changed(SettingsGroup group) const;
    void MarkChanged(SettingsGroup group);
    void MarkUnchanged(SettingsGroup group);

    // The handlers of the four groups.
    void Edit_CostIdChange() { MarkChanged(SettingsGroup::CustomerId); }
    void Edit_A1Change() { MarkChanged(SettingsGroup::Limits); }
    void Edit_BeepTimeChange() { MarkChanged(SettingsGroup::Signals); }
    void Edit_hwzptChange() { MarkChanged(SettingsGroup::Hardware); }

private:
    const MainWidgets &widgets_;
};

} // namespace r310::ui
