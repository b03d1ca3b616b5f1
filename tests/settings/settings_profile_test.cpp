// Settings profiles: the file format and its refusals, and a profile saved
// from one simulated instrument applied to another through the instrument
// connection, with every request as the instrument heard it.
#include "InstrumentRig.h"

#include "LoggerRecords.h"
#include "SettingsProfile.h"

#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace r310;
using namespace r310test;

namespace {

sim::Scenario InstrumentA()
{
    sim::Scenario scenario = FastInstrument();
    scenario.serialNumber = 1111;
    scenario.exponent = -1; // tenths of a ppm
    scenario.rangeEnd = 5000; // 0 to 500.0 ppm
    scenario.thresholds = {{305, 600, 1500, 1000, 300}};
    scenario.signalModes = 0xAA;
    scenario.bumpIntervalDays = 45;
    scenario.hwOptions = 0x30; // only the test key, no vibrator, no service over the keyboard
    scenario.loggerInterval = 120;
    scenario.customerId = "ACME";
    return scenario;
}

sim::Scenario InstrumentB()
{
    sim::Scenario scenario = FastInstrument();
    scenario.serialNumber = 2222;
    scenario.exponent = -1;
    scenario.rangeEnd = 5000;
    return scenario;
}

// The rig in German regional settings, as the profile files are read there too.
RigOptions German(const sim::Scenario &scenario)
{
    RigOptions options;
    options.scenario = scenario;
    options.eventLogs = true;
    return options;
}

InstrumentSettings ReadSettings(Rig &rig)
{
    auto read = std::make_shared<InstrumentSettingsRead>();
    rig.Run(ReadInstrumentSettingsJob(read));
    EXPECT_TRUE(read->ok()) << read->failure.toStdString();
    return read->settings;
}

SettingsProfile ProfileOfInstrument(const sim::Scenario &scenario, bool withCustomerId = true)
{
    ConnectedRig rig(German(scenario));
    return ProfileOf(ReadSettings(rig), nullptr, withCustomerId);
}

QByteArray ProfileText(const QString &settings, const QString &more = QString())
{
    return QStringLiteral(R"({"format": "r310conf-settings-profile", "version": 1%1, "settings": {%2}})")
        .arg(more, settings)
        .toUtf8();
}

} // namespace

TEST(ProfileFile, WrittenProfileReadsBackAsSavedAndHoldsNothingOfOneInstrument)
{
    const SettingsProfile saved = ProfileOfInstrument(InstrumentA());
    ASSERT_NE(saved.find(QStringLiteral("a1")), nullptr);
    EXPECT_EQ(saved.find(QStringLiteral("a1"))->value, QStringLiteral("30.5"));
    EXPECT_EQ(saved.find(QStringLiteral("customer-id"))->value, QStringLiteral("ACME"));
    EXPECT_EQ(saved.find(kLoggerIntervalKey)->value, QStringLiteral("120"));
    EXPECT_EQ(saved.source.serialNumber, QStringLiteral("00001111"));

    const QByteArray json = SettingsProfileJson(saved);
    const SettingsProfileParse parsed = ParseSettingsProfile(json);
    ASSERT_TRUE(parsed.profile) << parsed.error.toStdString();
    EXPECT_EQ(*parsed.profile, saved);

    // Numbers, switches and choices as JSON types; nothing that belongs to one instrument.
    const QJsonObject settings = QJsonDocument::fromJson(json).object().value(QStringLiteral("settings")).toObject();
    EXPECT_TRUE(settings.value(QStringLiteral("a1")).isDouble());
    EXPECT_TRUE(settings.value(QStringLiteral("a1-latching")).isBool());
    EXPECT_EQ(settings.value(QStringLiteral("bleep")).toString(), QStringLiteral("louder"));
    for (const char *forbidden : {"serial", "clock", "next", "zero", "gain", "reference"}) {
        for (const QString &key : settings.keys())
            EXPECT_FALSE(key.contains(QLatin1String(forbidden))) << key.toStdString();
    }
    EXPECT_EQ(ProfileOfInstrument(InstrumentA(), false).find(QStringLiteral("customer-id")), nullptr);
}

TEST(ProfileFile, InvalidProfilesAreRefusedWithEveryReason)
{
    struct Case {
        QByteArray text;
        QStringList reasons;
    };
    const std::vector<Case> cases = {
        {"", {QStringLiteral("empty")}},
        {"   \n", {QStringLiteral("empty")}},
        {"{\"format\": \"r310conf-settings-profile\", \"vers", {QStringLiteral("not a settings profile")}},
        {"[1, 2]", {QStringLiteral("no JSON object")}},
        {QByteArray("\x00\xff\xfe{", 4), {QStringLiteral("not a settings profile")}},
        {R"({"format": "other", "version": 1, "settings": {"a1": 1}})", {QStringLiteral("\"format\"")}},
        {R"({"format": "r310conf-settings-profile", "version": 2, "settings": {}})", {QStringLiteral("version 2")}},
        {R"({"format": "r310conf-settings-profile", "version": "1", "settings": {}})", {QStringLiteral("\"version\"")}},
        {ProfileText(QString()), {QStringLiteral("holds no setting")}},
        {ProfileText(QStringLiteral(R"("serial-number": 5, "a1": "30", "bleep": 3, "a1-latching": "on",
                                       "bump-interval": 1000, "logger-interval": 10, "customer-id": "Zoë€",
                                       "wake-up": "sometimes", "bleep-interval": 1.5)"),
                     QStringLiteral(R"(, "instrument": {"gasCode": 300, "colour": "red"}, "extra": 1)")),
         {QStringLiteral("unknown setting \"serial-number\""), QStringLiteral("a1: a number"),
          QStringLiteral("bleep: one of the words"), QStringLiteral("a1-latching: true or false"),
          QStringLiteral("bump-interval"), QStringLiteral("logger-interval: Error! from 30 to 300 allowed"),
          QStringLiteral("customer-id"), QStringLiteral("wake-up"), QStringLiteral("bleep-interval"),
          QStringLiteral("\"gasCode\""), QStringLiteral("unknown entry \"colour\""),
          QStringLiteral("unknown entry \"extra\"")}},
        {QByteArray(kMaxProfileBytes + 1, ' '), {QStringLiteral("larger")}},
    };
    for (const Case &c : cases) {
        const SettingsProfileParse parsed = ParseSettingsProfile(c.text);
        EXPECT_FALSE(parsed.profile) << c.text.left(80).toStdString();
        for (const QString &reason : c.reasons)
            EXPECT_TRUE(parsed.error.contains(reason))
                << "missing \"" << reason.toStdString() << "\" in: " << parsed.error.toStdString();
        EXPECT_EQ(parsed.error.count(u'\n') + 1, std::max<qsizetype>(1, c.reasons.size()))
            << parsed.error.toStdString();
    }

    // Files: missing, a folder, and one far larger than a profile, read no further than needed.
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    EXPECT_TRUE(ReadSettingsProfile(folder.filePath(QStringLiteral("none.json"))).error.contains(QLatin1String("no such file")));
    EXPECT_TRUE(ReadSettingsProfile(folder.path()).error.contains(QLatin1String("folder")));
    const QString huge = folder.filePath(QStringLiteral("huge.json"));
    ASSERT_TRUE(WriteFile(huge, QByteArray(8 * kMaxProfileBytes, '{')));
    EXPECT_TRUE(ReadSettingsProfile(huge).error.contains(QLatin1String("larger")));
}

TEST(ProfileApply, ProfileOfOneInstrumentIsWrittenToAnotherWithTheSetCommandsOnly)
{
    const SettingsProfile profile = ProfileOfInstrument(InstrumentA());
    ConnectedRig rig(German(InstrumentB()));
    const InstrumentSettings before = ReadSettings(rig);
    const ProfilePlan plan = PlanProfile(profile, before, nullptr);
    ASSERT_TRUE(plan.ok()) << plan.refusals.join(u'\n').toStdString();

    QStringList differing;
    for (const ProfileDifference &d : plan.differences)
        differing.append(d.key);
    EXPECT_TRUE(differing.contains(QStringLiteral("a1")));
    EXPECT_TRUE(differing.contains(QStringLiteral("only-test-key")));
    EXPECT_TRUE(differing.contains(kLoggerIntervalKey));
    EXPECT_FALSE(differing.contains(QStringLiteral("a1-latching"))) << "both instruments hold the same flags";

    const std::size_t from = rig.HeardCount();
    auto applied = std::make_shared<ProfileApplyResult>();
    rig.Run(ApplyProfileJob(plan, applied));
    ASSERT_TRUE(applied->matches()) << applied->failure.toStdString();

    // Each differing group is written once with the payload its set command
    // builds; the hardware payload carries the sensor values the instrument
    // reported; the logger's record goes back with only the interval changed.
    const std::vector<Heard> writes = Writes(rig.HeardSince(from));
    ASSERT_EQ(writes.size(), plan.groups.size() + 1);
    for (std::size_t i = 0; i < plan.groups.size(); ++i) {
        EXPECT_EQ(writes[i].object, plan.groups[i]->object);
        EXPECT_EQ(writes[i].payload, plan.groups[i]->payload(plan.target).bytes) << plan.groups[i]->title.toStdString();
    }
    EXPECT_EQ(writes.back().object, kObjectLoggerInfo);
    const sim::DeviceState held = rig.InstrumentState();
    EXPECT_EQ(held.logger.info.interval, 120);
    EXPECT_EQ(held.identity.serialNumber, 2222) << "the serial number is never written";

    // The instrument now reads back as the profile, and a second apply has nothing to write.
    const InstrumentSettings after = ReadSettings(rig);
    const SettingsProfile now = ProfileOf(after, nullptr, true);
    EXPECT_EQ(now.settings, profile.settings);
    EXPECT_TRUE(PlanProfile(profile, after, nullptr).writesNothing());
}

TEST(ProfileApply, ProfilesThatDoNotFitTheInstrumentWriteNothing)
{
    struct Case {
        QByteArray text;
        std::uint16_t softwareVersion;
        QString reason;
    };
    const std::vector<Case> cases = {
        {ProfileText(QStringLiteral(R"("a1": 30)"), QStringLiteral(R"(, "instrument": {"gasCode": 7, "unitCode": 0})")),
         221, QStringLiteral("the profile is for the gas code 7")},
        {ProfileText(QStringLiteral(R"("a1": 30)"), QStringLiteral(R"(, "instrument": {"gasCode": 1, "unitCode": 3})")),
         221, QStringLiteral("unit code 3")},
        {ProfileText(QStringLiteral(R"("a1": 30.55)")), 221, QStringLiteral("a1: 30.55 does not fit")},
        {ProfileText(QStringLiteral(R"("a2": 4000)")), 221, QStringLiteral("a2")},
        {ProfileText(QStringLiteral(R"("display-mode": true)")), 210, QStringLiteral("display-mode: software version")},
        {ProfileText(QStringLiteral(R"("logger-interval": 60)")), 200, QStringLiteral("has no data logger")},
    };
    for (const Case &c : cases) {
        const SettingsProfileParse parsed = ParseSettingsProfile(c.text);
        ASSERT_TRUE(parsed.profile) << parsed.error.toStdString();
        sim::Scenario scenario = InstrumentB();
        scenario.softwareVersion = c.softwareVersion;
        ConnectedRig rig(German(scenario));
        const ProfilePlan plan = PlanProfile(*parsed.profile, ReadSettings(rig), nullptr);
        ASSERT_FALSE(plan.ok()) << c.text.toStdString();
        EXPECT_TRUE(plan.refusals.join(u'\n').contains(c.reason)) << plan.refusals.join(u'\n').toStdString();

        const std::size_t from = rig.HeardCount();
        auto applied = std::make_shared<ProfileApplyResult>();
        rig.Run(ApplyProfileJob(plan, applied));
        EXPECT_FALSE(applied->written());
        EXPECT_TRUE(rig.HeardSince(from).empty());
    }
}

TEST(ProfileApply, WriteTheInstrumentDoesNotAnswerStopsAndSaysWhich)
{
    const SettingsProfile profile = ProfileOfInstrument(InstrumentA());
    ConnectedRig rig(German(InstrumentB()));
    const ProfilePlan plan = PlanProfile(profile, ReadSettings(rig), nullptr);
    ASSERT_GE(plan.groups.size(), 2u);
    sim::FaultPlan silent;
    silent.noAnswer.probability = 1.0;
    rig.SetFaults(silent);
    auto applied = std::make_shared<ProfileApplyResult>();
    rig.Run(ApplyProfileJob(plan, applied));
    EXPECT_FALSE(applied->written());
    EXPECT_TRUE(applied->failure.startsWith(plan.groups.front()->title)) << applied->failure.toStdString();
    ASSERT_EQ(applied->writes.size(), 1u) << "nothing after the write that failed";
    EXPECT_TRUE(applied->writtenTitles().isEmpty());
}
