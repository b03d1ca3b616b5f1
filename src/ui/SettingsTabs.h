#pragma once
// The settings commands of the Range, Signals and Hardware tabs and "Set
// &Time" on the General tab: their buttons, what leaving each of the three
// tabs writes, and the checks of the two interval fields when the focus
// leaves them. The window only gathers the fields and shows the outcome;
// the payloads, writes and read-backs are the commands' own.
#include <AlarmSettings.h>
#include <HardwareSettings.h>
#include <SetClock.h>
#include <SignalSettings.h>

#include <QLocale>
#include <QObject>
#include <QPointer>

#include <set>
#include <memory>
#include <optional>

class QLineEdit;

namespace r310::ui {

class TFo_R310;
struct MainWidgets;

class SettingsTabs : public QObject {
    Q_OBJECT
public:
    // locale: the user's regional settings, the same the decoder shows the
    // values with, so a shown value reads back as itself.
    SettingsTabs(TFo_R310 &window, const QLocale &locale);

    // The buttons.
    void ButtonSetGWClick();  // "Set &Limit"
    void ButtonSetSigClick(); // "Set S&ignals"
    void ButtonHWSetClick();  // "S&et"
    void ButtonTimeClick();   // "Set &Time"

    // The focus leaves an interval field.
    void Edit_DeltaBumpDayExit();
    void Edit_DeltaCalDayExit();

    // Leaving a tab while connected: its unsaved changes are written without
    // asking; the change goes ahead whatever becomes of the write.
    bool LeaveRange();
    bool LeaveSignals();
    bool LeaveHardware();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void ClockWriteFinished(const SetClockResult &result);
    struct IntervalField {
        QLineEdit *edit;
        std::int32_t fallback;
        std::int32_t min;
        std::int32_t max;
        const QString &message;
    };

    void WriteLimits();
    void WriteSignals();
    void WriteHardware();
    std::optional<SignalSettingsValues> SignalValuesFromTab();
    void IntervalExit(const IntervalField &field);
    IntervalField BumpIntervalField() const;
    IntervalField CalibrationIntervalField() const;
    // Runs the pending exit check of the interval field that has the focus,
    // before a leave writes the tab.
    void ExitFocusedIntervalField();
    void Submit(SettingsGroup group, const QString &name, ConnectionJob job,
                const std::shared_ptr<SettingsWriteResult> &result);
    bool WritePending(SettingsGroup group) const;
    void ShowAnswer(const DecodedAnswer &answer);

    TFo_R310 &window_;
    const MainWidgets &w_;
    const QLocale locale_;
    // The signals object as last read on this connection: the due dates go
    // back as the instrument's day counts, never parsed from their text.
    std::optional<SignalSettings> lastSignals_;
    // "Set &Time" under way, and whether the instrument kept its own time.
    bool clockWriting_ = false;
    bool clockNotTaken_ = false;
    // The groups with a write on its way.
    std::set<SettingsGroup> pending_;
    // A failed interval check asked for the signals to be read again: until
    // that read is done the tab's changes count as discarded.
    bool discardingSignals_ = false;
    // An interval field whose exit check ran before a tab change; its
    // focus-out that follows the change is not checked again.
    QPointer<QLineEdit> exitChecked_;
};

} // namespace r310::ui
