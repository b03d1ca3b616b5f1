// The factory setup: serial numbers it accepts, its 28-byte payload, the
// write with the connect sequence behind it on the simulated instrument, and
// the longer, less repeated wait of the limit-list update.
#include "InstrumentRig.h"

#include "FactorySetup.h"

#include <QElapsedTimer>

using namespace r310;
using namespace r310test;

namespace {

TEST(FactorySerialNumber, AcceptsOneToNinetyNineMillionDigitsOnly)
{
    QString why;
    EXPECT_EQ(ParseFactorySerialNumber(QStringLiteral("00000041"), &why), 41);
    EXPECT_EQ(ParseFactorySerialNumber(QStringLiteral(" 7 "), &why), 7);
    EXPECT_EQ(ParseFactorySerialNumber(QStringLiteral("99999999"), &why), 99999999);
    for (const QString &bad : {QString(), QStringLiteral("0"), QStringLiteral("00000000"), QStringLiteral("-5"),
                               QStringLiteral("+5"), QStringLiteral("12a4"), QStringLiteral("1 2"),
                               QStringLiteral("100000000"), QStringLiteral("99999999999999999999")}) {
        why.clear();
        EXPECT_FALSE(ParseFactorySerialNumber(bad, &why).has_value()) << bad.toStdString();
        EXPECT_TRUE(why.contains(QStringLiteral("1 to 99999999"))) << why.toStdString();
    }
}

TEST(FactoryCustomerId, UpperCasesAToZAndTakesOnlyTheDialogsCharacters)
{
    QString why;
    EXPECT_EQ(FactoryCustomerIdFromText(QStringLiteral("lu-7, a.b"), &why), QStringLiteral("LU-7, A.B"));
    EXPECT_EQ(FactoryCustomerIdFromText(QString(), &why), QString());
    for (const QString &bad : {QStringLiteral("A*B"), QStringLiteral("\u00E4"), QStringLiteral("A_B"),
                               QStringLiteral("ABCDEFGHIJ")}) {
        why.clear();
        EXPECT_FALSE(FactoryCustomerIdFromText(bad, &why).has_value()) << bad.toStdString();
        EXPECT_FALSE(why.isEmpty());
    }
    EXPECT_EQ(FactoryUpperCase(QLatin1Char('q')), QLatin1Char('Q'));
    EXPECT_EQ(FactoryUpperCase(QChar(0xE4)), QChar(0xE4));
    EXPECT_TRUE(FactorySerialCharacter(QLatin1Char('7')));
    EXPECT_FALSE(FactorySerialCharacter(QLatin1Char('-')));
    EXPECT_FALSE(FactoryCustomerIdCharacter(QLatin1Char('*')));
    EXPECT_FALSE(FactoryCustomerIdCharacter(QLatin1Char('a')));
}

TEST(FactorySetupPayload, LaysOutSerialTimeCustomerIdAndMarker)
{
    FactorySetupEntries entries;
    entries.serialNumber = 0x01020304;
    entries.customerId = QStringLiteral("ABCDEFGHI");
    const CommandPayload plain = FactorySetupPayload(entries, 631152000);
    ASSERT_TRUE(plain.ok()) << plain.refusal.toStdString();
    ASSERT_EQ(plain.bytes.size(), 28U);
    EXPECT_EQ(Bytes(plain.bytes.begin(), plain.bytes.begin() + 8),
              (Bytes{0x04, 0x03, 0x02, 0x01, 0x80, 0x9D, 0x9E, 0x25}));
    EXPECT_EQ(Bytes(plain.bytes.begin() + 8, plain.bytes.begin() + 17),
              (Bytes{'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I'}));
    EXPECT_EQ(Bytes(plain.bytes.begin() + 17, plain.bytes.end()), Bytes(11, 0));

    entries.updateLimitList = true;
    entries.customerId = QStringLiteral("AB");
    const CommandPayload update = FactorySetupPayload(entries, 0);
    ASSERT_TRUE(update.ok());
    EXPECT_EQ(update.bytes[10], 0);
    EXPECT_EQ(update.bytes[18], 0xAA);
    EXPECT_EQ(Bytes(update.bytes.begin() + 19, update.bytes.end()), Bytes(9, 0));
}

TEST(FactorySetupPayload, RefusesWhatItCannotSend)
{
    FactorySetupEntries entries;
    entries.serialNumber = 0;
    EXPECT_FALSE(FactorySetupPayload(entries, 0).ok());
    entries.serialNumber = -3;
    EXPECT_FALSE(FactorySetupPayload(entries, 0).ok());
    entries.serialNumber = 100000000;
    EXPECT_FALSE(FactorySetupPayload(entries, 0).ok());
    entries.serialNumber = 5;
    entries.customerId = QStringLiteral("ABCDEFGHIJ");
    EXPECT_FALSE(FactorySetupPayload(entries, 0).ok());
    entries.customerId = QStringLiteral("\u20AC");
    EXPECT_FALSE(FactorySetupPayload(entries, 0).ok());
}

TEST(FactorySetupJob, WritesThenRunsTheConnectSequence)
{
    ConnectedRig rig;
    rig.Mark();
    FactorySetupEntries entries;
    entries.serialNumber = 42;
    entries.customerId = QStringLiteral("LUMO-7");
    entries.updateLimitList = true;
    auto result = std::make_shared<FactorySetupResult>();
    rig.Run(FactorySetupJob(entries, result, [] { return 631152000; }));
    EXPECT_TRUE(result->accepted());
    EXPECT_TRUE(result->reconnected);
    const std::vector<Heard> heard = rig.Heard();
    ASSERT_GE(heard.size(), 5U);
    EXPECT_EQ(heard[0].name(), "R2") << "the identity is read before the write";
    EXPECT_EQ(heard[1].name(), "W30");
    EXPECT_EQ(heard[1].flags, kFlagsWrite);
    ASSERT_EQ(heard[1].payload.size(), 28U);
    EXPECT_EQ(heard[1].payload[0], 42);
    EXPECT_EQ(heard[1].payload[18], 0xAA);
    EXPECT_EQ(Bytes(heard[1].payload.begin() + 19, heard[1].payload.end()), Bytes(9, 0));
    // The connect sequence: connect request, identity, clock, ...
    EXPECT_EQ(heard[2].name(), "C1");
    EXPECT_EQ(heard[3].name(), "R2");
    EXPECT_EQ(heard[4].name(), "R3");
    const sim::DeviceState state = rig.InstrumentState();
    EXPECT_EQ(state.identity.serialNumber, 42);
    EXPECT_EQ(state.limitListUpdates, 1);
    rig.Settle();
    QString serialShown;
    for (const DecodedAnswer &answer : rig.answers)
        if (answer.identity)
            serialShown = answer.identity->serialNumberText;
    EXPECT_EQ(serialShown, QStringLiteral("00000042"));
}

TEST(FactorySetupJob, RefusedEntriesSendNothing)
{
    ConnectedRig rig;
    rig.Mark();
    auto result = std::make_shared<FactorySetupResult>();
    rig.Run(FactorySetupJob(FactorySetupEntries{}, result));
    EXPECT_FALSE(result->refusal.isEmpty());
    EXPECT_EQ(result->write, Outcome::NotRun);
    EXPECT_TRUE(rig.Heard().empty());
}

TEST(FactorySetupJob, LimitListUpdateWaitsLongAndIsSentAtMostTwice)
{
    RigOptions options;
    options.tick = 5ms;
    ConnectedRig rig(options);
    // The setup goes unheard; the identity read before each send is answered.
    rig.Silence({kObjectFactorySetup});
    FactorySetupEntries entries;
    entries.serialNumber = 9;
    entries.updateLimitList = true;
    rig.Mark();
    auto result = std::make_shared<FactorySetupResult>();
    QElapsedTimer clock;
    clock.start();
    rig.Run(FactorySetupJob(entries, result));
    // Two sends of 150 ticks each (5 ms ticks in this rig).
    EXPECT_GE(clock.elapsed(), 2 * 150 * 5 - 5);
    EXPECT_EQ(result->write, Outcome::NoAnswer);
    EXPECT_FALSE(result->reconnected);
    EXPECT_EQ(rig.HeardNames(), (std::vector<std::string>{"R2", "W30", "R2", "W30"}));

    // Without the update the write waits 20 ticks per send, five sends.
    entries.updateLimitList = false;
    rig.Mark();
    rig.Run(FactorySetupJob(entries, result));
    EXPECT_EQ(rig.HeardNames(),
              (std::vector<std::string>{"R2", "W30", "R2", "W30", "R2", "W30", "R2", "W30", "R2", "W30"}));
}

} // namespace
