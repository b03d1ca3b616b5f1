#pragma once
// "Save profile…" and "Apply profile…" below the port buttons: the
// instrument's settings into a profile file, and a profile file onto the
// instrument. Reading, checking, writing and the read-backs are the settings
// profile's own jobs; the window asks for the file, shows the differences
// for confirmation and reports the outcome. The tabs show the read-back
// values as every read shows them.
#include <SettingsProfile.h>

#include <QObject>

#include <functional>
#include <memory>

namespace r310 {
class GasTable;
}

namespace r310::ui {

class TFo_R310;

class ProfileCommands : public QObject {
    Q_OBJECT
public:
    // gasTable names gas and unit in the profile; null leaves the names out.
    ProfileCommands(TFo_R310 &window, const GasTable *gasTable);

    void SaveProfileClick();
    void ApplyProfileClick();

private:
    // Runs proceed at once, or after the user agreed that the changes not
    // yet set on the tabs give way to what the instrument holds.
    void AfterUnsavedChanges(std::function<void()> proceed);
    void AskSaveFile();
    void AskProfileFile();
    void UpdateButtons();
    void ReadFinished();
    void SaveTo(const QString &path, const InstrumentSettings &settings);
    void Confirm(const ProfilePlan &plan, const QString &serialNumber);
    void ApplyFinished();
    JobId Submit(const QString &name, ConnectionJob job);
    void JobFinished();

    enum class Step { Idle, ReadingForSave, ReadingForApply, Writing };

    TFo_R310 &window_;
    const GasTable *gasTable_;
    Step step_ = Step::Idle;
    JobId job_ = 0;
    QString savePath_;
    std::optional<SettingsProfile> profile_;
    std::shared_ptr<InstrumentSettingsRead> read_;
    std::shared_ptr<ProfileApplyResult> applied_;
};

} // namespace r310::ui
