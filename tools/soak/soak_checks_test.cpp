// The soak's judgements on made-up program output, simulator logs and files:
// each must pass what a good run leaves and name what a faulty one leaves.
#include "SoakChecks.h"
#include "SoakPlan.h"

#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

using namespace soak;

namespace {

const QByteArray kEventsReference = "No;Date Time;Typ;Value\r\n"
                                    "0;8 Dec 2026 17:37:57;Dev-ON; \r\n"
                                    "1;8 Dec 2026 18:33:57;A1 ON;31\r\n"
                                    "2;9 Dec 2026 03:33:57;A1 OFF;29\r\n";
// The same download from an instrument started two seconds later.
const QByteArray kEventsLater = "No;Date Time;Typ;Value\r\n"
                                "0;8 Dec 2026 17:37:59;Dev-ON; \r\n"
                                "1;8 Dec 2026 18:33:59;A1 ON;31\r\n"
                                "2;9 Dec 2026 03:33:59;A1 OFF;29\r\n";
const QByteArray kOlder = "an older export\r\n";

} // namespace

TEST(SoakChecks, SanitizerReportsAreFoundByTheirFirstLine)
{
    EXPECT_TRUE(SanitizerReports("r310ctl: the instrument on /dev/pts/3 stopped answering\n").isEmpty());
    const QByteArray asan = "==123==ERROR: AddressSanitizer: heap-use-after-free on address 0x6\n#0 0x1 in f\n";
    EXPECT_EQ(SanitizerReports(asan), QStringList{"==123==ERROR: AddressSanitizer: heap-use-after-free on address 0x6"});
    const QByteArray ubsan = "Report.cpp:40:7: runtime error: signed integer overflow\n";
    EXPECT_EQ(SanitizerReports(ubsan).size(), 1);
    EXPECT_EQ(SanitizerReports("==9==ERROR: LeakSanitizer: detected memory leaks\n").size(), 1);
}

TEST(SoakChecks, WritesOnTheWireMustCarryTheIntendedPayload)
{
    const QByteArray log = "       0 -> 56 59 4B 34 01 60 00 A5 9F\n"
                           "      12 <- 56 59 4B 34 01 C0 00 11 22\n"
                           "      30 -> 56 59 4B 34 04 00 00 33 44\n"
                           "      90 -> 56 59 4B 34 1F 60 02 95 0C 55 66\n"
                           "     400 -> 56 59 4B 34 1F 60 02 95 0C 55 66\n"
                           "     700 !crc 56 59 4B 34 1F 60 02 95 0D 55 66\n";
    const std::vector<HeardWrite> heard = WritesHeard(log);
    ASSERT_EQ(heard.size(), 2u) << "the connect request, the read and the garbled frame are no writes";
    EXPECT_EQ(heard[0].object, 31);
    EXPECT_EQ(heard[0].payload, QByteArray::fromHex("950c"));

    EXPECT_TRUE(CheckWrites(heard, 31, QByteArray::fromHex("950c"), true).isEmpty()) << "sent twice is fine";
    const QStringList other = CheckWrites(heard, 31, QByteArray::fromHex("950d"), false);
    ASSERT_EQ(other.size(), 2);
    EXPECT_TRUE(other[0].contains("95 0c")) << other[0].toStdString();
    EXPECT_EQ(CheckWrites(heard, 4, QByteArray::fromHex("950c"), false).size(), 2) << "another object";
    EXPECT_EQ(CheckWrites({}, 31, QByteArray::fromHex("950c"), true).size(), 1) << "reported written, never heard";
    EXPECT_TRUE(CheckWrites({}, 31, QByteArray::fromHex("950c"), false).isEmpty());
}

TEST(SoakChecks, ThePayloadCarriesThePlannedValue)
{
    const QByteArray payload = QByteArray::fromHex("0000000000000000190096");
    EXPECT_TRUE(CheckPayloadValue(payload, 8, 2, 25).isEmpty());
    EXPECT_TRUE(CheckPayloadValue(payload, 10, 1, 0x96).isEmpty());
    EXPECT_EQ(CheckPayloadValue(payload, 9, 2, 0x9600).size(), 0) << "little-endian";
    EXPECT_EQ(CheckPayloadValue(payload, 8, 2, 26).size(), 1);
    EXPECT_EQ(CheckPayloadValue(payload, 10, 2, 0x96).size(), 1) << "too short";
    EXPECT_EQ(BytesFromHex(QStringLiteral("56 59 4b")), QByteArray("VYK"));
    EXPECT_FALSE(BytesFromHex(QStringLiteral("56 5")));
    EXPECT_FALSE(BytesFromHex(QStringLiteral("56 zz")));
}

TEST(SoakChecks, ASuccessfulDownloadWritesTheFaultlessFileDatesAside)
{
    EXPECT_TRUE(CheckExportFile(ExportKind::Events, 0, std::nullopt, kEventsLater, kEventsReference, {}).isEmpty());
    EXPECT_TRUE(CheckExportFile(ExportKind::Events, 0, kOlder, kEventsLater, kEventsReference, {}).isEmpty());

    QByteArray swapped = kEventsLater;
    swapped.replace("A1 ON;31", "A1 ON;29");
    const QStringList wrongValue = CheckExportFile(ExportKind::Events, 0, std::nullopt, swapped, kEventsReference, {});
    ASSERT_EQ(wrongValue.size(), 1);
    EXPECT_TRUE(wrongValue[0].contains("line 3")) << wrongValue[0].toStdString();

    EXPECT_EQ(CheckExportFile(ExportKind::Events, 0, std::nullopt, kEventsLater.left(kEventsLater.size() - 1),
                              kEventsReference, {}).size(), 1) << "cut short";
    EXPECT_EQ(CheckExportFile(ExportKind::Events, 0, kOlder, kOlder, kEventsReference, {}).size(), 1)
        << "exit 0, the older file left";
    EXPECT_EQ(CheckExportFile(ExportKind::Events, 0, std::nullopt, std::nullopt, kEventsReference, {}).size(), 1);

    const QByteArray datalog = "Date/Time;Value;Gas;Alarm;\r\n9 Dec 2026 06:04:57;1;ppm CO; ;\r\n ; ; ; ;\r\n";
    QByteArray datalogLater = datalog;
    datalogLater.replace("06:04:57", "06:05:01");
    EXPECT_TRUE(CheckExportFile(ExportKind::Datalog, 0, std::nullopt, datalogLater, datalog, {}).isEmpty());
    QByteArray lostSeparator = datalogLater;
    lostSeparator.replace(" ; ; ; ;\r\n", "");
    EXPECT_EQ(CheckExportFile(ExportKind::Datalog, 0, std::nullopt, lostSeparator, datalog, {}).size(), 1);
}

TEST(SoakChecks, AFailedDownloadLeavesAnOlderFileUntouchedAndNoNewOne)
{
    EXPECT_TRUE(CheckExportFile(ExportKind::Datalog, 3, kOlder, kOlder, kEventsReference, {}).isEmpty());
    EXPECT_TRUE(CheckExportFile(ExportKind::Datalog, 5, std::nullopt, std::nullopt, kEventsReference, {}).isEmpty());
    EXPECT_EQ(CheckExportFile(ExportKind::Datalog, 3, std::nullopt, kEventsLater, kEventsReference, {}).size(), 1)
        << "a file left after a failure";
    EXPECT_EQ(CheckExportFile(ExportKind::Datalog, 3, kOlder, kEventsLater, kEventsReference, {}).size(), 1)
        << "the older file replaced after a failure";
    EXPECT_EQ(CheckExportFile(ExportKind::Datalog, 130, kOlder, std::nullopt, kEventsReference, {}).size(), 1)
        << "the older file removed";
}

TEST(SoakChecks, AnEventDownloadThatLostEventsWritesTheOthersAndNamesTheLost)
{
    const QByteArray withoutOne = "No;Date Time;Typ;Value\r\n"
                                  "0;8 Dec 2026 17:37:59;Dev-ON; \r\n"
                                  "2;9 Dec 2026 03:33:59;A1 OFF;29\r\n";
    const QString named = QStringLiteral("r310ctl: 1 of 3 events could not be read and is not in the file: No 1.\n");
    EXPECT_TRUE(CheckExportFile(ExportKind::Events, 3, kOlder, withoutOne, kEventsReference, named).isEmpty());
    EXPECT_EQ(CheckExportFile(ExportKind::Events, 3, kOlder, withoutOne, kEventsReference, {}).size(), 1)
        << "the lost event is not named";
    const QString otherNamed = QStringLiteral("1 of 3 events could not be read and is not in the file: No 2.");
    EXPECT_EQ(CheckExportFile(ExportKind::Events, 5, std::nullopt, withoutOne, kEventsReference, otherNamed).size(), 1)
        << "another event is missing than the one named";
    EXPECT_EQ(CheckExportFile(ExportKind::Datalog, 3, kOlder, withoutOne, kEventsReference, named).size(), 1)
        << "only the event download writes what it could read";
}

TEST(SoakChecks, FilesBesideTheExportsAreNamed)
{
    QTemporaryDir folder;
    ASSERT_TRUE(folder.isValid());
    for (const char *name : {"events.csv", "datalog.csv"}) {
        QFile file(folder.filePath(QString::fromLatin1(name)));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    }
    const QStringList expected{QStringLiteral("events.csv"), QStringLiteral("datalog.csv")};
    EXPECT_TRUE(UnexpectedFiles(QDir(folder.path()), expected).isEmpty());
    QFile temporary(folder.filePath(QStringLiteral(".events.csv.Xk3a9")));
    ASSERT_TRUE(temporary.open(QIODevice::WriteOnly));
    EXPECT_EQ(UnexpectedFiles(QDir(folder.path()), expected), QStringList{".events.csv.Xk3a9"});
}

TEST(SoakChecks, GetAgreesWithTheFaultlessInstrumentButForPortAndLiveValue)
{
    const QByteArray reference =
        R"({"port":"/dev/pts/1","range":{"a1":30,"value":{"raw":41}},"settings":{"a1":"30"}})";
    const QByteArray same = R"({"port":"/dev/pts/2","range":{"a1":30,"value":{"raw":7}},"settings":{"a1":"30"}})";
    EXPECT_TRUE(CompareGetJson(same, reference).isEmpty());
    const QByteArray differs = R"({"port":"/dev/pts/2","range":{"a1":30},"settings":{"a1":"31"}})";
    const QStringList problems = CompareGetJson(differs, reference);
    ASSERT_EQ(problems.size(), 1);
    EXPECT_TRUE(problems[0].endsWith("settings")) << problems[0].toStdString();
    EXPECT_EQ(CompareGetJson("r310ctl: no JSON", reference).size(), 1);
}

TEST(SoakChecks, SetReportsTheIntendedPayloadHeldAsWritten)
{
    const QByteArray done = R"({"dryRun":false,"writes":[{"object":31,"payload":"95 0c","heldAsWritten":true}]})";
    EXPECT_EQ(PayloadOfSetJson(done), QByteArray::fromHex("950c"));
    EXPECT_TRUE(CheckSetJson(done, 31, QByteArray::fromHex("950c")).isEmpty());
    EXPECT_EQ(CheckSetJson(done, 31, QByteArray::fromHex("950d")).size(), 1);
    EXPECT_EQ(CheckSetJson(done, 4, QByteArray::fromHex("950c")).size(), 1);
    const QByteArray differs = R"({"writes":[{"object":31,"payload":"95 0c","heldAsWritten":false}]})";
    EXPECT_EQ(CheckSetJson(differs, 31, QByteArray::fromHex("950c")).size(), 1);
    EXPECT_EQ(CheckSetJson("{}", 31, QByteArray::fromHex("950c")).size(), 1);
    const QByteArray interval = R"({"writes":[{"object":36,"heldAsWritten":true}]})";
    EXPECT_TRUE(CheckSetJson(interval, 36, QByteArray::fromHex("0a00")).isEmpty());
}

TEST(SoakPlan, SessionsFollowTheirSeedAndTakeEveryFaultInTurn)
{
    const SessionPlan a = PlanSession(Fault::Late, 1234);
    const SessionPlan b = PlanSession(Fault::Late, 1234);
    EXPECT_EQ(a.scenario, b.scenario);
    EXPECT_EQ(a.faultOptions, b.faultOptions);
    EXPECT_EQ(a.write.assignment, b.write.assignment);
    EXPECT_TRUE(a.scenario.contains(QStringLiteral("--seed=1234")));
    EXPECT_EQ(a.allowedExitCodes, (std::set<int>{0})) << "a late answer still comes within the attempts";
    EXPECT_EQ(PlanSession(Fault::ErrorReport, 1).allowedExitCodes, (std::set<int>{0, 3, 5}));

    std::set<Fault> seen;
    for (int number = 1; number <= static_cast<int>(AllFaults().size()); ++number)
        seen.insert(SessionFault(number));
    EXPECT_EQ(seen.size(), AllFaults().size());
    EXPECT_NE(SessionSeed(1, 1), SessionSeed(1, 2));
    EXPECT_NE(SessionSeed(1, 1), SessionSeed(2, 1));
    EXPECT_NE(SessionSeed(1, 1), 0u);
}

TEST(SoakPlan, TheTimeBoundGrowsWithWhatAStepReads)
{
    SessionPlan plan = PlanSession(Fault::NoAnswer, 7);
    plan.events = 3;
    const double few = StepBoundSeconds(Step::Events, plan);
    plan.events = 8;
    EXPECT_DOUBLE_EQ(StepBoundSeconds(Step::Events, plan) - few, 5 * 2 * 2.8)
        << "an event and a counter read each, with five attempts and the wait for late answers";
    EXPECT_GT(StepBoundSeconds(Step::Get, plan), kSearchSeconds + 16 * 2.8);
    plan.write.waitTicksPerAttempt = 30;
    const double signalsWrite = StepBoundSeconds(Step::Set, plan);
    plan.write.waitTicksPerAttempt = 20;
    EXPECT_DOUBLE_EQ(signalsWrite - StepBoundSeconds(Step::Set, plan), 9.0)
        << "five attempts of 1 s more, and four more for late answers";
}
