#include "SettingsTabs.h"

#include "MainWidgets.h"
#include "R310Cnf.h"
#include "RadioGroup.h"

#include <SessionRecorder.h>
#include <SetClock.h>

#include <QCheckBox>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPushButton>

namespace r310::ui {

namespace {

AlarmFlags FlagsOf(const AlarmRow &row)
{
    return AlarmFlags{row.fallBelow->isChecked(), row.latching->isChecked(), row.hornOff->isChecked()};
}

// Only a move of the focus inside the window leaves a field; another
// window or a popup taking the focus does not.
bool LeavesField(const QFocusEvent &event)
{
    return event.reason() != Qt::ActiveWindowFocusReason && event.reason() != Qt::PopupFocusReason;
}

} // namespace

SettingsTabs::SettingsTabs(TFo_R310 &window, const QLocale &locale)
    : QObject(&window), window_(window), w_(window.widgets()), locale_(locale)
{
    connect(w_.range.ButtonSetGW, &QPushButton::clicked, this, &SettingsTabs::ButtonSetGWClick);
    connect(w_.signalTab.ButtonSetSig, &QPushButton::clicked, this, &SettingsTabs::ButtonSetSigClick);
    connect(w_.hardware.ButtonHWSet, &QPushButton::clicked, this, &SettingsTabs::ButtonHWSetClick);
    connect(w_.general.ButtonTime, &QPushButton::clicked, this, &SettingsTabs::ButtonTimeClick);
    w_.signalTab.Edit_DeltaBumpDay->installEventFilter(this);
    w_.signalTab.Edit_DeltaCalDay->installEventFilter(this);

    window.SetLeaveHandler(InstrumentTab::Range, [this] { return LeaveRange(); });
    window.SetLeaveHandler(InstrumentTab::Signals, [this] { return LeaveSignals(); });
    window.SetLeaveHandler(InstrumentTab::Hardware, [this] { return LeaveHardware(); });

    connect(&window, &TFo_R310::answerShown, this,
            [this](const DecodedAnswer &answer, const AnswerFrame &) { ShowAnswer(answer); });
    if (InstrumentConnection *connection = window.connection()) {
        // Another instrument may answer after the display was cleared: its
        // due dates are not the ones read before.
        connect(connection, &InstrumentConnection::displayCleared, this, [this] { lastSignals_.reset(); });
        connect(connection, &InstrumentConnection::clockNotTaken, this, [this] {
            if (clockWriting_)
                clockNotTaken_ = true;
        });
    }
}

void SettingsTabs::ShowAnswer(const DecodedAnswer &answer)
{
    if (answer.signalSettings)
        lastSignals_ = answer.signalSettings;
}

bool SettingsTabs::WritePending(SettingsGroup group) const
{
    return pending_.count(group) > 0;
}

void SettingsTabs::Submit(SettingsGroup group, const QString &name, ConnectionJob job,
                          const std::shared_ptr<SettingsWriteResult> &result)
{
    InstrumentConnection *connection = window_.connection();
    if (!connection)
        return;
    pending_.insert(group);
    // On record with the settings as they were before the write.
    connection->submit(name, std::move(job), this,
                       [this, group, result, before = window_.recorder().HeldSettings()](Outcome) {
        pending_.erase(group);
        if (const SettingsGroupCommand *command = FindSettingsGroup(group); command && result)
            window_.recorder().RecordSettingsWrite(*command, before, *result);
        // What keeps a write off the wire is said; the link's own failures
        // show as the lamp, the status bar and its messages.
        if (result && result->outcome == Outcome::Refused && !result->refusal.isEmpty())
            window_.dialogs().showError(result->refusal);
    });
}

// Range tab ---------------------------------------------------------------

void SettingsTabs::ButtonSetGWClick()
{
    WriteLimits();
}

void SettingsTabs::WriteLimits()
{
    if (WritePending(SettingsGroup::Limits) || !window_.connection())
        return;
    AlarmSettingsTexts texts;
    for (std::size_t i = 0; i < kAlarmCount; ++i) {
        texts.thresholds[i] = w_.range.alarms[i].edit->text();
        texts.flags[i] = FlagsOf(w_.range.alarms[i]);
    }
    texts.calibrationGas = w_.range.Edit_Cal->text();
    const InstrumentRecord &record = window_.connection()->record();
    const Conversion<AlarmSettingsValues> values = AlarmSettingsFromTexts(texts, record.DecimalExponent, locale_);
    if (!values) {
        window_.dialogs().showError(values.error);
        return;
    }
    // The range is known once the instrument is identified and its limits
    // were read; without an instrument the write meets the closed port.
    if (record.InstrumentConnected) {
        const QString outside = LimitsOutsideRangeRefusal(*values.value, MeasuringRange::FromRecord(record),
                                                          WindowAlarmFieldNames(), locale_);
        if (!outside.isEmpty()) {
            window_.dialogs().showError(outside);
            return;
        }
    }
    // An unusual order is written only when the user says so (No first).
    const QString order = UnusualAlarmOrder(*values.value, record.DecimalExponent, WindowAlarmFieldNames(), locale_);
    const AlarmSettingsValues limits = *values.value;
    const auto write = [this, limits] {
        auto result = std::make_shared<SettingsWriteResult>();
        Submit(SettingsGroup::Limits, QStringLiteral("Set Limit"), AlarmSettingsJob(limits, result), result);
    };
    if (order.isEmpty())
        write();
    else
        window_.dialogs().askQuestion(QStringLiteral("The alarm limits stand in an unusual order: %1.\nWrite them "
                                                     "in this order anyway?")
                                          .arg(order),
                                      [write](bool yes) {
                                          if (yes)
                                              write();
                                      });
}

bool SettingsTabs::LeaveRange()
{
    if (window_.changes().Changed(SettingsGroup::Limits))
        WriteLimits();
    return true;
}

// Signals tab -------------------------------------------------------------

void SettingsTabs::ButtonSetSigClick()
{
    WriteSignals();
}

std::optional<SignalSettingsValues> SettingsTabs::SignalValuesFromTab()
{
    const SignalsWidgets &s = w_.signalTab;
    SignalSettingsValues v;
    v.confidenceBleep = s.RadioGroup_Bsig->itemIndex();
    v.vibrator = s.RadioGroup_VSig->itemIndex();
    v.keyResponse = s.RadioGroup_KSig->itemIndex();
    v.warmUpSignal = s.RadioGroup_Wup->itemIndex();
    v.wakeUpMode = s.RadioGroup_Wakeup->itemIndex();
    v.dateFormat = s.RadioGroup_DateFmt->itemIndex();
    v.clock12h = s.CheckBox12h->isChecked();
    v.showTime = s.CheckBoxShowTime->isChecked();
    v.showSeconds = s.CheckBoxSek->isChecked();
    v.bumpAlarm = s.CheckBoxBumpAlarm->isChecked();
    // Hidden: it holds what the last read set.
    v.calibrationAlarm = s.CheckBoxCalAlarm->isChecked();
    if (const QString refusal = SignalSelectionRefusal(v); !refusal.isEmpty()) {
        window_.dialogs().showError(refusal);
        return std::nullopt;
    }
    // The integer fields in the order the instrument's object holds them.
    struct Integer {
        QLineEdit *edit;
        std::int32_t *value;
    };
    const Integer integers[] = {{s.Edit_BeepTime, &v.bleepIntervalSeconds},
                                {s.Edit_DeltaBumpDay, &v.bumpIntervalDays},
                                {s.Edit_DeltaCalDay, &v.calibrationIntervalDays},
                                {s.EditBumpTests, &v.bumpInfo}};
    for (const Integer &integer : integers) {
        const Conversion<std::int32_t> value = IntegerValue(integer.edit->text(), locale_);
        if (!value) {
            window_.dialogs().showError(value.error);
            return std::nullopt;
        }
        *integer.value = *value.value;
    }
    if (!lastSignals_) {
        window_.dialogs().showError(QStringLiteral(
            "%1, %2: the due dates have not been read from the instrument")
                                        .arg(signal_fields::kNextBump, signal_fields::kNextCalibration));
        return std::nullopt;
    }
    v.nextBumpDay = lastSignals_->nextBumpDay;
    v.nextCalibrationDay = lastSignals_->nextCalibrationDay;
    return v;
}

void SettingsTabs::WriteSignals()
{
    // A failed interval check has discarded the tab's changes: the read
    // that restores the instrument's values is on its way.
    if (WritePending(SettingsGroup::Signals) || discardingSignals_ || !window_.connection())
        return;
    const std::optional<SignalSettingsValues> values = SignalValuesFromTab();
    if (!values)
        return;
    const SettingsPayload payload = SignalSettingsPayload(*values);
    if (!payload.ok()) {
        window_.dialogs().showError(payload.refusal);
        return;
    }
    auto result = std::make_shared<SettingsWriteResult>();
    Submit(SettingsGroup::Signals, QStringLiteral("Set Signals"), SignalSettingsJob(*values, result), result);
}

bool SettingsTabs::LeaveSignals()
{
    ExitFocusedIntervalField();
    if (window_.changes().Changed(SettingsGroup::Signals))
        WriteSignals();
    return true;
}

SettingsTabs::IntervalField SettingsTabs::BumpIntervalField() const
{
    return {w_.signalTab.Edit_DeltaBumpDay, kBumpIntervalDefault, kBumpIntervalMin, kBumpIntervalMax,
            kBumpIntervalMessage};
}

SettingsTabs::IntervalField SettingsTabs::CalibrationIntervalField() const
{
    return {w_.signalTab.Edit_DeltaCalDay, kCalibrationIntervalDefault, kCalibrationIntervalMin,
            kCalibrationIntervalMax, kCalibrationIntervalMessage};
}

void SettingsTabs::Edit_DeltaBumpDayExit()
{
    IntervalExit(BumpIntervalField());
}

void SettingsTabs::Edit_DeltaCalDayExit()
{
    IntervalExit(CalibrationIntervalField());
}

void SettingsTabs::IntervalExit(const IntervalField &field)
{
    const Conversion<std::int32_t> typed = IntegerValue(field.edit->text(), locale_);
    std::int32_t value = field.fallback;
    if (typed) {
        value = *typed.value;
    } else {
        // The default stands in for what is no number; it is a change of
        // the tab like the user's own.
        field.edit->setText(QString::number(field.fallback));
        window_.changes().MarkChanged(SettingsGroup::Signals);
    }
    if (value >= field.min && value <= field.max)
        return;
    window_.dialogs().showMessage(field.message);
    // The instrument's values replace every field of the tab.
    if (InstrumentConnection *connection = window_.connection()) {
        discardingSignals_ = true;
        connection->submit(
            QStringLiteral("ReadSignals"), [](JobContext &job) { job.sequences().ReadSignals(); }, this,
            [this](Outcome) { discardingSignals_ = false; });
    }
}

void SettingsTabs::ExitFocusedIntervalField()
{
    for (const IntervalField &field : {BumpIntervalField(), CalibrationIntervalField()}) {
        if (field.edit->hasFocus()) {
            IntervalExit(field);
            exitChecked_ = field.edit;
        }
    }
}

bool SettingsTabs::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn && watched == exitChecked_) {
        exitChecked_.clear();
    } else if (event->type() == QEvent::FocusOut && LeavesField(static_cast<QFocusEvent &>(*event))) {
        if (watched == exitChecked_) {
            // Checked already, before the tab change that moves the focus away.
            exitChecked_.clear();
        } else if (watched == w_.signalTab.Edit_DeltaBumpDay) {
            Edit_DeltaBumpDayExit();
        } else if (watched == w_.signalTab.Edit_DeltaCalDay) {
            Edit_DeltaCalDayExit();
        }
    }
    return QObject::eventFilter(watched, event);
}

// Hardware tab ------------------------------------------------------------

void SettingsTabs::ButtonHWSetClick()
{
    WriteHardware();
}

void SettingsTabs::WriteHardware()
{
    if (WritePending(SettingsGroup::Hardware) || !window_.connection())
        return;
    const HardwareWidgets &h = w_.hardware;
    HardwareOptions options;
    options.serviceOverKeyboard = h.CheckBox_KeyServ->isChecked();
    options.vibratorDisabled = h.CheckBoxNoVib->isChecked();
    options.onlyTestKey = h.CheckBoxonlybat->isChecked();
    // A box the software version keeps disabled contributes nothing.
    options.dataSafety = h.CheckBoxSafety->isEnabled() && h.CheckBoxSafety->isChecked();
    options.bestResolution = h.CheckBoxBestRes->isEnabled() && h.CheckBoxBestRes->isChecked();
    options.displayMode = h.CheckBoxDspMode->isEnabled() && h.CheckBoxDspMode->isChecked();
    auto result = std::make_shared<SettingsWriteResult>();
    Submit(SettingsGroup::Hardware, QStringLiteral("Set Hardware"), HardwareSettingsJob(options, result), result);
}

bool SettingsTabs::LeaveHardware()
{
    if (window_.changes().Changed(SettingsGroup::Hardware))
        WriteHardware();
    return true;
}

// General tab -------------------------------------------------------------

void SettingsTabs::ButtonTimeClick()
{
    InstrumentConnection *connection = window_.connection();
    if (!connection || clockWriting_)
        return;
    clockNotTaken_ = false;
    clockWriting_ = true;
    auto result = std::make_shared<SetClockResult>();
    connection->submit(QStringLiteral("Set Time"), SetClockJob(result), this,
                       [this, result, offsetBefore = window_.recorder().clockOffset()](Outcome) {
                           window_.recorder().RecordClockWrite(offsetBefore, *result, clockNotTaken_);
                           ClockWriteFinished(*result);
                       });
}

void SettingsTabs::ClockWriteFinished(const SetClockResult &result)
{
    clockWriting_ = false;
    // Answered every time, yet the clock still differs: say so, or the user
    // would take the instrument's time for set.
    if (clockNotTaken_ && result.succeeded)
        window_.dialogs().showMessage(
            QStringLiteral("The instrument did not take the time: after %1 writes its clock still differs from "
                           "the PC's. It keeps its own time.")
                .arg(result.clockWrites));
    clockNotTaken_ = false;
}

} // namespace r310::ui
