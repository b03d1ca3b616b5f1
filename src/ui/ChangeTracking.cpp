#include "ChangeTracking.h"

#include "MainWidgets.h"
#include "RadioGroup.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>

namespace r310::ui {

QPushButton *SetButton(const MainWidgets &w, SettingsGroup group)
{
    switch (group) {
    case SettingsGroup::CustomerId:
        return w.general.ButtonCostID;
    case SettingsGroup::Limits:
        return w.range.ButtonSetGW;
    case SettingsGroup::Signals:
        return w.signalTab.ButtonSetSig;
    case SettingsGroup::Hardware:
        return w.hardware.ButtonHWSet;
    }
    return nullptr;
}

ChangeTracking::ChangeTracking(const MainWidgets &w, QObject *parent) : QObject(parent), widgets_(w)
{
    const auto onEdit = [this](QLineEdit *edit, void (ChangeTracking::*handler)()) {
        connect(edit, &QLineEdit::textEdited, this, handler);
    };
    const auto onClick = [this](QCheckBox *box, void (ChangeTracking::*handler)()) {
        connect(box, &QCheckBox::clicked, this, handler);
    };
    const auto onItem = [this](RadioGroup *group, void (ChangeTracking::*handler)()) {
        connect(group, &RadioGroup::itemClicked, this, handler);
    };

    onEdit(w.general.Edit_CostId, &ChangeTracking::Edit_CostIdChange);

    for (const AlarmRow &row : w.range.alarms) {
        onEdit(row.edit, &ChangeTracking::Edit_A1Change);
        for (QCheckBox *box : {row.fallBelow, row.latching, row.hornOff})
            onClick(box, &ChangeTracking::Edit_A1Change);
    }
    onEdit(w.range.Edit_Cal, &ChangeTracking::Edit_A1Change);

    const SignalsWidgets &s = w.signalTab;
    for (RadioGroup *group : {s.RadioGroup_Bsig, s.RadioGroup_VSig, s.RadioGroup_KSig, s.RadioGroup_Wup,
                              s.RadioGroup_DateFmt, s.RadioGroup_Wakeup})
        onItem(group, &ChangeTracking::Edit_BeepTimeChange);
    for (QCheckBox *box : {s.CheckBox12h, s.CheckBoxShowTime, s.CheckBoxSek, s.CheckBoxBumpAlarm})
        onClick(box, &ChangeTracking::Edit_BeepTimeChange);
    for (QLineEdit *edit : {s.Edit_BeepTime, s.Edit_DeltaBumpDay, s.Edit_DeltaCalDay, s.Edit_NextBumpDate,
                            s.Edit_nextCalDate, s.EditBumpTests})
        onEdit(edit, &ChangeTracking::Edit_BeepTimeChange);

    const HardwareWidgets &h = w.hardware;
    for (QLineEdit *edit : {h.Edit_hwzpt, h.Edit_hwSpan, h.Edit_hwUref})
        onEdit(edit, &ChangeTracking::Edit_hwzptChange);
    for (QCheckBox *box : {h.CheckBox_KeyServ, h.CheckBoxNoVib, h.CheckBoxonlybat, h.CheckBoxSafety,
                           h.CheckBoxBestRes, h.CheckBoxDspMode})
        onClick(box, &ChangeTracking::Edit_hwzptChange);
}

bool ChangeTracking::Changed(SettingsGroup group) const
{
    return SetButton(widgets_, group)->isEnabled();
}

void ChangeTracking::MarkChanged(SettingsGroup group)
{
    SetButton(widgets_, group)->setEnabled(true);
}

void ChangeTracking::MarkUnchanged(SettingsGroup group)
{
    SetButton(widgets_, group)->setEnabled(false);
}

} // namespace r310::ui
