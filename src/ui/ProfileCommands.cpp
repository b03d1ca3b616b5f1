#include "ProfileCommands.h"

#include "R310Cnf.h"

#include <SessionRecorder.h>

#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>

namespace r310::ui {

namespace {

const QString kSaveTitle = QStringLiteral("Save profile");
const QString kApplyTitle = QStringLiteral("Apply profile");
const QString kProfileFilter = QStringLiteral("Settings profiles (*.json);;All files (*)");

QString Escaped(const QString &text) { return text.toHtmlEscaped(); }

// The question before an apply: the instrument, then key, instrument and
// profile values in a table.
QString ConfirmationText(const ProfilePlan &plan, const QString &serialNumber)
{
    QString rows;
    for (const ProfileDifference &d : plan.differences)
        rows += QStringLiteral("<tr><td>%1</td><td>%2</td><td>%3</td></tr>")
                    .arg(Escaped(d.key), Escaped(d.instrument), Escaped(d.profile));
    return QStringLiteral("<p>Write the profile to instrument %1? These settings differ:</p>"
                          "<table cellspacing=\"0\" cellpadding=\"3\">"
                          "<tr><th align=\"left\">Setting</th><th align=\"left\">Instrument</th>"
                          "<th align=\"left\">Profile</th></tr>%2</table>")
        .arg(Escaped(serialNumber), rows);
}

} // namespace

ProfileCommands::ProfileCommands(TFo_R310 &window, const GasTable *gasTable)
    : QObject(&window), window_(window), gasTable_(gasTable)
{
    setObjectName(QStringLiteral("ProfileCommands"));
    const ControlWidgets &control = window.widgets().control;
    connect(control.ButtonSaveProfile, &QPushButton::clicked, this, &ProfileCommands::SaveProfileClick);
    connect(control.ButtonApplyProfile, &QPushButton::clicked, this, &ProfileCommands::ApplyProfileClick);
    if (InstrumentConnection *connection = window.connection()) {
        connect(connection, &InstrumentConnection::recordChanged, this, &ProfileCommands::UpdateButtons);
        connect(connection, &InstrumentConnection::phaseChanged, this, &ProfileCommands::UpdateButtons);
    }
    UpdateButtons();
}

void ProfileCommands::UpdateButtons()
{
    const InstrumentConnection *connection = window_.connection();
    const bool usable = connection && connection->portOpen() && connection->record().InstrumentConnected
                     && step_ == Step::Idle;
    const ControlWidgets &control = window_.widgets().control;
    control.ButtonSaveProfile->setEnabled(usable);
    control.ButtonApplyProfile->setEnabled(usable);
}

JobId ProfileCommands::Submit(const QString &name, ConnectionJob job)
{
    InstrumentConnection *connection = window_.connection();
    if (!connection) {
        step_ = Step::Idle;
        return 0;
    }
    job_ = connection->submit(name, std::move(job), this, [this](Outcome) { JobFinished(); });
    UpdateButtons();
    return job_;
}

void ProfileCommands::AfterUnsavedChanges(std::function<void()> proceed)
{
    // Reading the groups shows what the instrument holds in their fields, so
    // what the user typed and has not set yet would go without a word.
    QStringList changed;
    for (const SettingsGroupCommand &group : SettingsGroups()) {
        if (window_.changes().Changed(group.group))
            changed.append(group.title);
    }
    if (changed.isEmpty()) {
        proceed();
        return;
    }
    window_.dialogs().askQuestion(QStringLiteral("The changes not yet set (%1) will be replaced by what the "
                                                 "instrument holds. Go on?")
                                      .arg(changed.join(QStringLiteral(", "))),
                                  [proceed = std::move(proceed)](bool yes) {
                                      if (yes)
                                          proceed();
                                  });
}

void ProfileCommands::SaveProfileClick()
{
    if (step_ != Step::Idle || !window_.connection())
        return;
    AfterUnsavedChanges([this] { AskSaveFile(); });
}

void ProfileCommands::AskSaveFile()
{
    const QString serial = window_.widgets().general.Edit_DevSn->text();
    window_.dialogs().askSaveFileName(kSaveTitle, QStringLiteral("json"),
                                      QStringLiteral("profile-%1.json").arg(serial), [this](const QString &path) {
                                          if (path.isEmpty() || step_ != Step::Idle)
                                              return;
                                          savePath_ = path;
                                          step_ = Step::ReadingForSave;
                                          read_ = std::make_shared<InstrumentSettingsRead>();
                                          Submit(QStringLiteral("read settings for a profile"),
                                                 ReadInstrumentSettingsJob(read_));
                                      });
}

void ProfileCommands::ApplyProfileClick()
{
    if (step_ != Step::Idle || !window_.connection())
        return;
    AfterUnsavedChanges([this] { AskProfileFile(); });
}

void ProfileCommands::AskProfileFile()
{
    window_.dialogs().askOpenFileName(kApplyTitle, kProfileFilter, [this](const QString &path) {
        if (path.isEmpty() || step_ != Step::Idle)
            return;
        // An invalid profile is refused before anything is read or written.
        SettingsProfileParse parsed = ReadSettingsProfile(path);
        if (!parsed.profile) {
            window_.dialogs().showError(QStringLiteral("The file is not a valid settings profile; nothing was "
                                                       "written:\n%1")
                                            .arg(parsed.error));
            return;
        }
        profile_ = std::move(parsed.profile);
        profileName_ = QFileInfo(path).fileName();
        step_ = Step::ReadingForApply;
        read_ = std::make_shared<InstrumentSettingsRead>();
        Submit(QStringLiteral("read settings for a profile"), ReadInstrumentSettingsJob(read_));
    });
}

void ProfileCommands::JobFinished()
{
    job_ = 0;
    const Step finished = step_;
    step_ = Step::Idle;
    if (finished == Step::Writing)
        ApplyFinished();
    else
        ReadFinished();
    UpdateButtons();
}

void ProfileCommands::ReadFinished()
{
    const std::shared_ptr<InstrumentSettingsRead> read = std::move(read_);
    const bool forSave = savePath_.size() > 0;
    const QString path = std::exchange(savePath_, QString());
    if (!read || !read->ok()) {
        // A closed port or a cancel has shown its own state already.
        if (read && !read->interrupted)
            window_.dialogs().showError(QStringLiteral("The settings could not be read: %1").arg(read->failure));
        return;
    }
    if (forSave) {
        SaveTo(path, read->settings);
        return;
    }
    if (!profile_)
        return;
    const ProfilePlan plan = PlanProfile(*profile_, read->settings, gasTable_);
    if (!plan.ok()) {
        window_.dialogs().showError(QStringLiteral("The profile does not fit this instrument; nothing was written:\n%1")
                                        .arg(plan.refusals.join(u'\n')));
        return;
    }
    if (plan.differences.empty()) {
        window_.dialogs().showMessage(QStringLiteral("The instrument already holds the profile."));
        return;
    }
    Confirm(plan, read->settings.identity.serialNumberText);
}

void ProfileCommands::SaveTo(const QString &path, const InstrumentSettings &settings)
{
    QStringList leftOut;
    const SettingsProfile profile = ProfileOf(settings, gasTable_, true, &leftOut);
    if (const QString error = WriteSettingsProfile(path, profile); !error.isEmpty()) {
        window_.dialogs().showError(QStringLiteral("The profile was not saved: %1").arg(error));
        return;
    }
    QString text = QStringLiteral("%1 settings of instrument %2 saved to %3.")
                       .arg(profile.settings.size())
                       .arg(profile.source.serialNumber, path);
    if (!leftOut.isEmpty())
        text += u'\n' + leftOut.join(u'\n');
    window_.dialogs().showMessage(text);
}

void ProfileCommands::Confirm(const ProfilePlan &plan, const QString &serialNumber)
{
    window_.dialogs().askQuestion(ConfirmationText(plan, serialNumber), [this, plan](bool yes) {
        if (!yes || step_ != Step::Idle)
            return;
        step_ = Step::Writing;
        applied_ = std::make_shared<ProfileApplyResult>();
        plan_ = plan;
        Submit(QStringLiteral("apply profile"), ApplyProfileJob(plan, applied_));
    });
}

void ProfileCommands::ApplyFinished()
{
    const std::shared_ptr<ProfileApplyResult> applied = std::move(applied_);
    if (!applied)
        return;
    window_.recorder().RecordProfileApply(profileName_, plan_, *applied);
    if (!applied->written()) {
        if (!applied->interrupted)
            window_.dialogs().showError(QStringLiteral("The profile was not written whole: %1").arg(applied->failure));
        return;
    }
    if (!applied->mismatches.empty()) {
        QStringList parts;
        for (const ProfileDifference &d : applied->mismatches)
            parts.append(QStringLiteral("%1 holds %2, the profile says %3").arg(d.key, d.instrument, d.profile));
        window_.dialogs().showError(
            QStringLiteral("The instrument does not hold the profile: %1").arg(parts.join(QStringLiteral("; "))));
        return;
    }
    window_.dialogs().showMessage(QStringLiteral("The instrument now holds the profile."));
}

} // namespace r310::ui
