#include "InstrumentDisplay.h"

#include "ChangeTracking.h"
#include "ConnectionLamp.h"
#include "MainWidgets.h"
#include "RadioGroup.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QTabWidget>

namespace r310::ui {

namespace {

void SetTabShown(QTabWidget &tabs, QWidget *page, bool shown)
{
    const int index = tabs.indexOf(page);
    if (index >= 0 && tabs.isTabVisible(index) != shown)
        tabs.setTabVisible(index, shown);
}

void ClearTexts(std::initializer_list<QLineEdit *> edits)
{
    for (QLineEdit *edit : edits)
        edit->clear();
}

void Uncheck(std::initializer_list<QCheckBox *> boxes)
{
    for (QCheckBox *box : boxes)
        box->setChecked(false);
}

} // namespace

InstrumentDisplay::InstrumentDisplay(MainWidgets &widgets, ChangeTracking &tracking)
    : w_(widgets), tracking_(tracking)
{
}

void InstrumentDisplay::ShowAnswer(const DecodedAnswer &answer)
{
    if (answer.identity)
        showIdentity(*answer.identity);
    if (answer.clock)
        showClock(*answer.clock);
    if (answer.value)
        w_.range.Edit7->setText(answer.value->text);
    if (answer.status)
        showStatus(*answer.status);
    if (answer.range)
        showRange(*answer.range);
    if (answer.signalSettings)
        showSignals(*answer.signalSettings);
    if (answer.hardware)
        showHardware(*answer.hardware);
    // Last, after the fields: a freshly read group counts as unchanged.
    if (answer.unchangedGroup)
        tracking_.MarkUnchanged(*answer.unchangedGroup);
}

void InstrumentDisplay::showIdentity(const IdentityValues &identity)
{
    w_.general.Edit_DevSn->setText(identity.serialNumberText);
    w_.general.Edit_Sver->setText(identity.softwareVersionText);
    ApplyFeatureGates(identity.gates);
    w_.range.Edit_MKTyp->setText(identity.mkTypeText);
    w_.range.Edit_MKSn->setText(identity.mkSerialNumberText);
    w_.general.Edit_CostId->setText(identity.customerId);
    w_.general.Edit_BatKap->setText(identity.batteryText);
}

void InstrumentDisplay::ApplyFeatureGates(const FeatureGates &gates)
{
    SetTabShown(*w_.PageControl1, w_.events.TabSheet7, gates.eventPropertiesTabVisible);
    SetTabShown(*w_.PageControl1, w_.logger.TabSheet8, gates.dataloggingTabVisible);
    w_.events.Edit9->setReadOnly(!gates.maxEventsEditable);
    w_.hardware.CheckBoxSafety->setEnabled(gates.safetyOptionsEnabled);
    w_.hardware.CheckBoxBestRes->setEnabled(gates.safetyOptionsEnabled);
    w_.hardware.CheckBoxDspMode->setEnabled(gates.displayModeEnabled);
}

void InstrumentDisplay::showClock(const ClockValues &clock)
{
    w_.general.Edit4->setText(clock.instrumentText);
    w_.general.Edit3->setText(clock.pcText);
}

void InstrumentDisplay::showStatus(const StatusReport &status)
{
    w_.calibration.Edit6->setText(status.text);
    paintResult(NextBackground(resultBackground_, status.background));
    // The status shows at once, even while the next exchange is under way.
    w_.calibration.Edit6->repaint();
}

void InstrumentDisplay::paintResult(StatusBackground background)
{
    resultBackground_ = background;
    QLineEdit &edit = *w_.calibration.Edit6;
    QPalette palette = edit.parentWidget() ? edit.parentWidget()->palette() : QPalette();
    switch (background) {
    case StatusBackground::Yellow:
        palette.setColor(QPalette::Base, kStatusYellow);
        break;
    case StatusBackground::Red:
        palette.setColor(QPalette::Base, kStatusRed);
        break;
    case StatusBackground::LimeGreen:
        palette.setColor(QPalette::Base, kStatusLimeGreen);
        break;
    case StatusBackground::Window:
    case StatusBackground::Blink:
        break;
    }
    edit.setPalette(palette);
}

void InstrumentDisplay::ResetResultBackground()
{
    paintResult(StatusBackground::Window);
}

void InstrumentDisplay::showRange(const RangeAlarmSettings &range)
{
    range_ = range;
    RangeWidgets &r = w_.range;
    r.Edit_NP->setText(range.zeroPointVoltageText);
    r.Edit_FS->setText(range.fullScaleVoltageText);
    for (std::size_t i = 0; i < r.alarms.size(); ++i)
        r.alarms[i].edit->setText(range.limits[i].text);
    r.Edit_Cal->setText(range.calibrationGasText);
    r.Edit_MBE->setText(range.rangeEndText);
    r.Edit_GEGA->setText(range.gasText);
    for (std::size_t i = 0; i < r.alarms.size(); ++i) {
        const AlarmFlags &flags = range.limits[i].flags;
        r.alarms[i].fallBelow->setChecked(flags.fallBelow);
        r.alarms[i].latching->setChecked(flags.latching);
        r.alarms[i].hornOff->setChecked(flags.hornMayBeSilenced);
    }
}

void InstrumentDisplay::showSignals(const SignalSettings &settings)
{
    SignalsWidgets &s = w_.signalTab;
    s.RadioGroup_Bsig->setItemIndex(settings.confidenceBleep);
    s.RadioGroup_VSig->setItemIndex(settings.vibrator);
    s.RadioGroup_KSig->setItemIndex(settings.keyResponse);
    s.RadioGroup_Wup->setItemIndex(settings.warmUpSignal);
    s.Edit_BeepTime->setText(settings.bleepIntervalText);
    s.RadioGroup_DateFmt->setItemIndex(settings.dateFormat);
    s.CheckBox12h->setChecked(settings.clock12h);
    s.CheckBoxShowTime->setChecked(settings.showTime);
    s.CheckBoxSek->setChecked(settings.showSeconds);
    s.RadioGroup_Wakeup->setItemIndex(settings.wakeUpMode);
    s.Edit_DeltaBumpDay->setText(settings.bumpIntervalText);
    s.Edit_DeltaCalDay->setText(settings.calibrationIntervalText);
    s.Edit_NextBumpDate->setText(settings.nextBumpDateText);
    s.Edit_nextCalDate->setText(settings.nextCalibrationDateText);
    s.CheckBoxBumpAlarm->setChecked(settings.bumpAlarm);
    s.CheckBoxCalAlarm->setChecked(settings.calibrationAlarm);
    s.EditBumpTests->setText(settings.bumpInfoText);
}

void InstrumentDisplay::showHardware(const HardwareSettings &hardware)
{
    HardwareWidgets &h = w_.hardware;
    h.Edit_hwzpt->setText(hardware.zeroPointText);
    h.Edit_hwSpan->setText(hardware.gainText);
    h.Edit_hwUref->setText(hardware.referenceVoltageText);
    h.CheckBox_KeyServ->setChecked(hardware.serviceOverKeyboard);
    h.CheckBoxNoVib->setChecked(hardware.vibratorDisabled);
    h.CheckBoxonlybat->setChecked(hardware.onlyTestKey);
    // A box the software version keeps disabled keeps its state.
    if (hardware.applyDataSafety)
        h.CheckBoxSafety->setChecked(*hardware.applyDataSafety);
    if (hardware.applyBestResolution)
        h.CheckBoxBestRes->setChecked(*hardware.applyBestResolution);
    if (hardware.applyDisplayMode)
        h.CheckBoxDspMode->setChecked(*hardware.applyDisplayMode);
}

void InstrumentDisplay::ClearInstrumentDisplay()
{
    range_.reset();
    const GeneralWidgets &g = w_.general;
    const RangeWidgets &r = w_.range;
    const SignalsWidgets &s = w_.signalTab;
    const HardwareWidgets &h = w_.hardware;
    ClearTexts({g.Edit_DevSn, g.Edit_Sver, g.Edit_BatKap, g.Edit_CostId, g.Edit3, g.Edit4, r.Edit_MKTyp,
                r.Edit_MKSn, r.Edit_NP, r.Edit_FS, r.Edit_MBE, r.Edit_GEGA});
    for (const AlarmRow &row : r.alarms)
        row.edit->clear();
    r.Edit_Cal->clear();
    for (const AlarmRow &row : r.alarms)
        Uncheck({row.fallBelow, row.latching, row.hornOff});
    for (RadioGroup *group : {s.RadioGroup_Bsig, s.RadioGroup_VSig, s.RadioGroup_KSig, s.RadioGroup_Wup})
        group->setItemIndex(-1);
    s.Edit_BeepTime->clear();
    s.RadioGroup_DateFmt->setItemIndex(-1);
    Uncheck({s.CheckBox12h, s.CheckBoxShowTime});
    s.RadioGroup_Wakeup->setItemIndex(-1);
    ClearTexts({h.Edit_hwzpt, h.Edit_hwSpan, h.Edit_hwUref});
    Uncheck({h.CheckBox_KeyServ, h.CheckBoxNoVib, h.CheckBoxonlybat});
    ClearTexts({w_.calibration.Edit5, w_.calibration.Edit6});
    ResetResultBackground();
    r.Edit7->clear();
    Uncheck({s.CheckBoxBumpAlarm, s.CheckBoxCalAlarm});
    s.EditBumpTests->clear();
    tracking_.MarkUnchanged(SettingsGroup::CustomerId);
    tracking_.MarkUnchanged(SettingsGroup::Limits);
    tracking_.MarkUnchanged(SettingsGroup::Signals);
    SetLamp(LampColour::Red);
    const EventWidgets &e = w_.events;
    const LoggerWidgets &l = w_.logger;
    ClearTexts({e.Edit1, e.Edit2, e.Edit8, e.Edit9, s.Edit_DeltaBumpDay, s.Edit_NextBumpDate, s.EditBumpTests,
                s.Edit_DeltaCalDay, s.Edit_nextCalDate, l.Edit10, l.Edit11, l.Edit12, l.Edit13, l.Edit14,
                l.Edit15, l.Edit16});
    SetCalibrationButtonsEnabled(false);
}

void InstrumentDisplay::SetLamp(LampColour colour)
{
    w_.control.Shape1->setBrushColour(colour == LampColour::LimeGreen ? kStatusLimeGreen : kStatusRed);
}

void InstrumentDisplay::SetCalibrationButtonsEnabled(bool enabled)
{
    for (QPushButton *button : {w_.calibration.Button5, w_.calibration.Button6, w_.calibration.Button7})
        button->setEnabled(enabled);
}

} // namespace r310::ui
