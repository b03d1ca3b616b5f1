// "Save profile…" and "Apply profile…" in the window, offscreen, against the
// simulated instrument, with the file dialogs and the question answered by
// the recording seam.
#include "UiRig.h"

#include <SettingsProfile.h>

#include <algorithm>

namespace {

using namespace r310;
using namespace r310::ui;
using namespace uitest;

QString WriteProfile(const QTemporaryDir &folder, const QString &name, const QByteArray &settings,
                     const QByteArray &instrument = "{}")
{
    QFile file(folder.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(R"({"format": "r310conf-settings-profile", "version": 1, "instrument": )" + instrument
               + R"(, "settings": )" + settings + "}");
    return file.fileName();
}

std::size_t Writes(const std::vector<std::string> &heard)
{
    return static_cast<std::size_t>(
        std::count_if(heard.begin(), heard.end(), [](const std::string &name) { return name[0] == 'W'; }));
}

} // namespace

TEST(ProfileCommands, SavedProfileAndAnAppliedOneAfterTheQuestion)
{
    WindowRig rig;
    const ControlWidgets &control = rig.w().control;
    EXPECT_FALSE(control.ButtonSaveProfile->isEnabled()) << "nothing to save without an instrument";
    ASSERT_TRUE(rig.Connect());
    ASSERT_TRUE(control.ButtonSaveProfile->isEnabled());
    ASSERT_TRUE(control.ButtonApplyProfile->isEnabled());

    QTemporaryDir folder;
    rig.dialogs.saveAnswer = folder.filePath(QStringLiteral("saved.json"));
    control.ButtonSaveProfile->click();
    ASSERT_TRUE(SpinUntil([&] { return !rig.dialogs.messages.isEmpty(); }, 10s));
    EXPECT_EQ(rig.dialogs.saveRequests.back().proposedName, QStringLiteral("profile-00001234.json"));
    const SettingsProfileParse saved = ReadSettingsProfile(rig.dialogs.saveAnswer);
    ASSERT_TRUE(saved.profile) << saved.error.toStdString();
    EXPECT_EQ(saved.profile->source.serialNumber, QStringLiteral("00001234"));

    // The differences are asked about first; "No" writes nothing.
    rig.dialogs.openAnswer = WriteProfile(folder, QStringLiteral("edited.json"), R"({"a1": 45, "bleep": "louder"})");
    const std::size_t from = rig.line->size();
    control.ButtonApplyProfile->click();
    ASSERT_TRUE(SpinUntil([&] { return rig.dialogs.questions.size() == 1; }, 10s));
    ASSERT_TRUE(rig.Idle());
    EXPECT_EQ(Writes(rig.heard(from)), 0u);
    EXPECT_TRUE(rig.dialogs.questions.front().contains(QLatin1String("<td>a1</td><td>30</td><td>45</td>")))
        << rig.dialogs.questions.front().toStdString();

    rig.dialogs.questionAnswer = true;
    control.ButtonApplyProfile->click();
    ASSERT_TRUE(SpinUntil([&] { return rig.dialogs.messages.size() == 2; }, 10s))
        << rig.dialogs.errors.join(u'\n').toStdString();
    EXPECT_EQ(rig.dialogs.messages.back(), QStringLiteral("The instrument now holds the profile."));
    const std::vector<std::string> heard = rig.heard(from);
    EXPECT_NE(std::find(heard.begin(), heard.end(), "W4"), heard.end());
    EXPECT_NE(std::find(heard.begin(), heard.end(), "W31"), heard.end());
    EXPECT_EQ(Writes(heard), 2u);
    // The tabs show the read-backs.
    EXPECT_EQ(rig.w().range.alarms[0].edit->text(), QStringLiteral("45"));
    EXPECT_TRUE(rig.dialogs.errors.isEmpty());
}

TEST(ProfileCommands, RefusedProfilesSendNothingAndSayWhy)
{
    // No poll between the steps: what the line hears is the profile's doing.
    RigOptions quiet;
    quiet.idlePoll = false;
    WindowRig rig(quiet);
    ASSERT_TRUE(rig.Connect());
    QTemporaryDir folder;
    const ControlWidgets &control = rig.w().control;

    // An invalid file is not even read against the instrument.
    rig.dialogs.openAnswer = WriteProfile(folder, QStringLiteral("bad.json"), R"({"a1": "much"})");
    std::size_t from = rig.line->size();
    control.ButtonApplyProfile->click();
    ASSERT_EQ(rig.dialogs.errors.size(), 1);
    EXPECT_TRUE(rig.dialogs.errors.back().contains(QLatin1String("a1: a number is expected")));
    ASSERT_TRUE(rig.Idle());
    EXPECT_TRUE(rig.heard(from).empty());

    // Another gas: read, compared, refused.
    rig.dialogs.openAnswer =
        WriteProfile(folder, QStringLiteral("gas.json"), R"({"a1": 45})", R"({"gasCode": 9, "unitCode": 0})");
    from = rig.line->size();
    control.ButtonApplyProfile->click();
    ASSERT_TRUE(SpinUntil([&] { return rig.dialogs.errors.size() == 2; }, 10s));
    EXPECT_TRUE(rig.dialogs.errors.back().contains(QLatin1String("the profile is for the gas code 9")))
        << rig.dialogs.errors.back().toStdString();
    EXPECT_TRUE(rig.dialogs.questions.isEmpty());
    ASSERT_TRUE(rig.Idle());
    EXPECT_EQ(Writes(rig.heard(from)), 0u);

    // Alarm limits typed and not set: the user is asked before a read would
    // replace them, and "No" leaves them and the instrument alone.
    rig.window().changes().MarkChanged(SettingsGroup::Limits);
    from = rig.line->size();
    control.ButtonApplyProfile->click();
    control.ButtonSaveProfile->click();
    ASSERT_EQ(rig.dialogs.questions.size(), 2);
    EXPECT_TRUE(rig.dialogs.questions.back().contains(QLatin1String("(alarm limits)")))
        << rig.dialogs.questions.back().toStdString();
    EXPECT_TRUE(rig.dialogs.openRequests.size() == 2 && rig.dialogs.saveRequests.isEmpty());
    ASSERT_TRUE(rig.Idle());
    EXPECT_TRUE(rig.heard(from).empty());
    EXPECT_TRUE(rig.window().changes().Changed(SettingsGroup::Limits));
}
