// The customer ID write: its 21-byte payload, the refusals that send
// nothing, the write and read-back on the simulated instrument, and what a
// failed or impossible exchange leaves.
#include "InstrumentRig.h"

#include "CustomerId.h"
#include "SettingsKeys.h"

using namespace r310;
using namespace r310test;

namespace {

Bytes IdentityWrite(const std::string &id)
{
    Bytes bytes(21, 0);
    std::copy(id.begin(), id.end(), bytes.begin() + 10);
    return bytes;
}

TEST(CustomerIdPayload, TextGoesToBytesTenOnwardWithZerosAround)
{
    const CommandPayload abc = CustomerIdPayload(QStringLiteral("ABC"));
    ASSERT_TRUE(abc.ok()) << abc.refusal.toStdString();
    Bytes expected(21, 0);
    expected[10] = 0x41;
    expected[11] = 0x42;
    expected[12] = 0x43;
    EXPECT_EQ(abc.bytes, expected);

    EXPECT_EQ(CustomerIdPayload(QString()).bytes, Bytes(21, 0));
    EXPECT_EQ(CustomerIdPayload(QStringLiteral("ABCDEFGHIJ")).bytes, IdentityWrite("ABCDEFGHIJ"));
    // One byte per character, beyond ASCII too.
    const CommandPayload accented = CustomerIdPayload(QStringLiteral("CAF\u00C9"));
    ASSERT_TRUE(accented.ok());
    EXPECT_EQ(accented.bytes[13], 0xC9);
}

TEST(CustomerIdPayload, RefusesWhatCannotBeSentAsOneByteCharacters)
{
    const CommandPayload euro = CustomerIdPayload(QStringLiteral("EUR\u20AC"));
    EXPECT_FALSE(euro.ok());
    EXPECT_TRUE(euro.bytes.empty());
    EXPECT_TRUE(euro.refusal.contains(QStringLiteral("U+20ac"))) << euro.refusal.toStdString();

    EXPECT_FALSE(CustomerIdPayload(QStringLiteral("A\u0100")).ok());
    EXPECT_FALSE(CustomerIdPayload(QString(QChar(0)) + QStringLiteral("AB")).ok());
    const CommandPayload tooLong = CustomerIdPayload(QStringLiteral("ABCDEFGHIJK"));
    EXPECT_FALSE(tooLong.ok());
    EXPECT_TRUE(tooLong.refusal.contains(QStringLiteral("11 characters"))) << tooLong.refusal.toStdString();
}

TEST(CustomerIdJob, WritesTheIdAndReadsTheIdentityBack)
{
    ConnectedRig rig;
    rig.Mark();
    auto result = std::make_shared<CustomerIdResult>();
    rig.Run(CustomerIdJob(CustomerIdPayload(QStringLiteral("ABC")), result));
    const std::vector<Heard> heard = rig.Heard();
    // The identity is read before the write, and back after it.
    ASSERT_EQ(Names(heard), (std::vector<std::string>{"R2", "W2", "R2"}));
    EXPECT_EQ(heard[1].flags, kFlagsWrite);
    EXPECT_EQ(heard[1].payload, IdentityWrite("ABC"));
    EXPECT_TRUE(heard[2].payload.empty());
    EXPECT_TRUE(result->accepted());
    EXPECT_TRUE(result->confirmed());
    EXPECT_EQ(result->customerId, QStringLiteral("ABC"));
    EXPECT_EQ(rig.InstrumentState().identity.customerId[2], 'C');
}

TEST(CustomerIdJob, TenCharactersReadFromTheInstrumentGoBackUnchanged)
{
    RigOptions options;
    options.scenario.customerId = "ABCDEFGHIJ";
    ConnectedRig rig(options);
    rig.Settle();
    QString shown;
    for (const DecodedAnswer &answer : rig.answers)
        if (answer.identity)
            shown = answer.identity->customerId;
    ASSERT_EQ(shown, QStringLiteral("ABCDEFGHIJ"));
    rig.Mark();
    auto result = std::make_shared<CustomerIdResult>();
    rig.Run(CustomerIdJob(CustomerIdPayload(shown), result));
    const std::vector<Heard> heard = rig.Heard();
    ASSERT_GE(heard.size(), 2U);
    EXPECT_EQ(heard[1].name(), "W2");
    EXPECT_EQ(heard[1].payload, IdentityWrite("ABCDEFGHIJ"));
    EXPECT_EQ(result->customerId, QStringLiteral("ABCDEFGHIJ"));
}

TEST(CustomerIdJob, RefusalsClosedPortAndSilenceSendNothingMoreAndDecodeNothing)
{
    Rig rig;
    // Closed port: the message once, nothing on the line.
    auto closed = std::make_shared<CustomerIdResult>();
    rig.Run(CustomerIdJob(CustomerIdPayload(QStringLiteral("X")), closed));
    rig.Settle();
    EXPECT_EQ(closed->write, Outcome::PortClosed);
    EXPECT_EQ(closed->readBack, Outcome::NotRun);
    EXPECT_EQ(rig.messages, QStringList{QStringLiteral("Comport nicht geöffnet!")});
    EXPECT_EQ(rig.HeardCount(), 0U);

    ASSERT_TRUE(rig.Connect());
    // A refused payload: nothing sent at all.
    rig.Mark();
    auto refused = std::make_shared<CustomerIdResult>();
    rig.Run(CustomerIdJob(CustomerIdPayload(QStringLiteral("\u4E2D")), refused));
    EXPECT_EQ(refused->write, Outcome::NotRun);
    EXPECT_TRUE(rig.Heard().empty());

    // No answer: the identity read before the write gets none in five
    // sends, so nothing is written; no read-back, the lamp red, nothing decoded.
    rig.Silence();
    rig.Settle();
    const std::size_t answers = rig.answers.size();
    rig.Mark();
    auto unanswered = std::make_shared<CustomerIdResult>();
    rig.Run(CustomerIdJob(CustomerIdPayload(QStringLiteral("Y")), unanswered));
    rig.Settle();
    EXPECT_EQ(unanswered->write, Outcome::NoAnswer);
    EXPECT_EQ(unanswered->readBack, Outcome::NotRun);
    EXPECT_EQ(rig.HeardNames(), std::vector<std::string>(5, "R2"));
    EXPECT_EQ(rig.lamp, LampColour::Red);
    EXPECT_EQ(rig.answers.size(), answers);
}

TEST(CustomerIdJob, AnErrorReportEndsTheWriteWithoutReadBack)
{
    ConnectedRig rig;
    sim::FaultPlan refusing;
    refusing.errorReport.next = 1;
    rig.SetFaults(refusing);
    rig.Mark();
    auto result = std::make_shared<CustomerIdResult>();
    // Written without the identity check, so the error report meets the write.
    const ConnectionJob write = CustomerIdJob(CustomerIdPayload(QStringLiteral("Q")), result);
    rig.Run([&write](JobContext &job) {
        job.prepareWritesFor(std::nullopt);
        write(job);
    });
    EXPECT_EQ(result->write, Outcome::ErrorReport);
    EXPECT_EQ(result->readBack, Outcome::NotRun);
    EXPECT_EQ(rig.HeardNames(), std::vector<std::string>{"W2"});
    EXPECT_EQ(SettingsResultOf(CustomerIdPayload(QStringLiteral("Q")), *result).outcome,
              Outcome::ErrorReport);
}

TEST(CustomerIdSetting, TheKeyTakesWhatTheWindowLetsOneTypeAndTheGroupWritesIt)
{
    const SettingsKey *key = FindSettingsKey(QStringLiteral("customer-id"));
    ASSERT_NE(key, nullptr);
    EXPECT_EQ(key->group, SettingsGroup::CustomerId);
    EXPECT_TRUE(key->check(QStringLiteral("ABC")).isEmpty());
    EXPECT_TRUE(key->check(QString()).isEmpty());
    EXPECT_FALSE(key->check(QStringLiteral("ABCDEFGHIJ")).isEmpty());
    EXPECT_TRUE(key->check(QStringLiteral("A\u20AC")).contains(QStringLiteral("customer-id")));

    SettingsDraft draft;
    EXPECT_FALSE(key->apply(draft, QStringLiteral("ABC")).isEmpty()) << "nothing read, nothing applied";
    ASSERT_TRUE(draft.Take(kObjectIdentity, IdentityWrite("DEMO")));
    EXPECT_EQ(key->text(draft), QStringLiteral("DEMO"));
    EXPECT_TRUE(key->apply(draft, QStringLiteral("ABC")).isEmpty());
    const SettingsGroupCommand *group = FindSettingsGroup(SettingsGroup::CustomerId);
    ASSERT_NE(group, nullptr);
    EXPECT_EQ(group->object, kObjectIdentity);
    EXPECT_EQ(group->payload(draft).bytes, IdentityWrite("ABC"));

    ConnectedRig rig;
    rig.Mark();
    auto result = std::make_shared<SettingsWriteResult>();
    rig.Run(group->write(draft, result));
    EXPECT_EQ(result->outcome, Outcome::Done);
    EXPECT_EQ(result->sent, IdentityWrite("ABC"));
    ASSERT_EQ(result->readBackPayload.size(), 21U);
    EXPECT_EQ(WrittenObject(*group, result->sent, result->readBackPayload), result->readBackPayload);
    EXPECT_EQ(rig.HeardNames(), (std::vector<std::string>{"R2", "W2", "R2"}));
}

} // namespace
