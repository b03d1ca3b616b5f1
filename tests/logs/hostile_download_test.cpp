// The event and data logger downloads against a hostile instrument: counters
// at 65535, block counts of 32768 and more, more than 15 samples a set, set
// counts outside 1 to 4, exponents of -128 and 127, times at 0 and 2^32 - 1,
// answers shorter than their object or filled up to the longest payload.
// Each download stays bounded: it reports its progress, ends when cancelled,
// keeps no more than the instrument's counts allow, and every line it would
// write holds sensible numbers and printable characters only.
#include "InstrumentRig.h"

#include "DataLoggerDownload.h"
#include "EventLogJobs.h"
#include "DataLoggerExport.h"

#include <QElapsedTimer>
#include <QRegularExpression>

#include <limits>

using namespace r310;
using namespace r310::logs;
using namespace r310test;

namespace {

// Seconds since 1980 at 2^32 - 1 and 0, as the instrument stores them.
constexpr std::uint32_t kTopSeconds = std::numeric_limits<std::uint32_t>::max();

RigOptions Hostile(const std::string &text)
{
    RigOptions options = RigOptions::EventLog();
    options.events.reset();
    std::string error;
    EXPECT_TRUE(sim::ParseScenarioText(text, options.scenario, &error)) << error;
    return options;
}

// A line of an export file: printable characters only, each field short.
void ExpectCleanLines(const QStringList &lines)
{
    ASSERT_FALSE(lines.isEmpty());
    for (const QString &line : lines) {
        EXPECT_LE(line.size(), 120) << line.toStdString();
        for (const QChar c : line)
            EXPECT_TRUE(c.isPrint() && c != QChar::ReplacementCharacter) << line.toStdString();
        for (const QString &field : line.split(u';'))
            EXPECT_LE(field.size(), 24) << field.toStdString() << " in " << line.toStdString();
    }
}

std::shared_ptr<EventDownload> DownloadEvents(Rig &rig, int count, Outcome *outcome = nullptr)
{
    auto result = std::make_shared<EventDownload>();
    const Outcome ended = rig.Run(EventDownloadJob(count, result));
    if (outcome)
        *outcome = ended;
    return result;
}

std::shared_ptr<LoggerDownloadResult> DownloadLogger(Rig &rig, Outcome *outcome = nullptr)
{
    auto result = std::make_shared<LoggerDownloadResult>();
    const Outcome ended = rig.Run(DataLoggerDownloadJob(result));
    if (outcome)
        *outcome = ended;
    return result;
}

// Runs `job` and cancels the connection once progress reached `at`; returns
// how long the job took from the cancel to its end. `heardAfterCancel`: how
// many requests the instrument heard after the cancel was asked for.
qint64 CancelAtProgress(Rig &rig, ConnectionJob job, int at, Outcome *outcome,
                        std::size_t *heardAfterCancel = nullptr)
{
    QElapsedTimer sinceCancel;
    std::size_t heardAtCancel = 0;
    rig.onProgress = [&rig, &sinceCancel, &heardAtCancel, at](int done, int) {
        if (done >= at && !sinceCancel.isValid()) {
            sinceCancel.start();
            heardAtCancel = rig.HeardCount();
            rig.connection.cancel();
        }
    };
    *outcome = rig.Run(std::move(job));
    rig.onProgress = nullptr;
    if (heardAfterCancel)
        *heardAfterCancel = rig.HeardCount() - heardAtCancel;
    return sinceCancel.isValid() ? sinceCancel.elapsed() : -1;
}

} // namespace

TEST(HostileEventLog, CountersAt65535AreShownAndTheDownloadCanBeFollowedAndCancelled)
{
    ConnectedRig rig(Hostile("software = 221\nevents = 5\nevent_counters = 65535,65535,65535,65535"));
    ASSERT_TRUE(rig.Run([](JobContext &job) { job.sequences().ReadEventProperties(); }) == Outcome::Done);
    r310test::SpinFor(20ms);
    ASSERT_TRUE(rig.eventProperties.has_value());
    const EventPropertiesTexts texts = EventPropertiesText(*rig.eventProperties);
    EXPECT_EQ(texts.position, QStringLiteral("65535"));
    EXPECT_EQ(texts.count, QStringLiteral("65535"));
    EXPECT_EQ(texts.thirdCounter, QStringLiteral("65535"));
    EXPECT_EQ(texts.maxEvents, QStringLiteral("65535"));

    // The count asks for 65535 events: the first five are stored, the rest refused.
    rig.Mark();
    auto result = std::make_shared<EventDownload>();
    Outcome outcome = Outcome::Done;
    std::size_t heardAfterCancel = 0;
    const qint64 afterCancel =
        CancelAtProgress(rig, EventDownloadJob(rig.eventProperties->count, result), 40, &outcome, &heardAfterCancel);
    EXPECT_EQ(outcome, Outcome::Cancelled);
    EXPECT_EQ(result->outcome, Outcome::Cancelled);
    EXPECT_EQ(result->count, 65535);
    EXPECT_EQ(result->table.size(), 65535) << "one entry per event asked for, never more";
    EXPECT_TRUE(result->lines.isEmpty());
    EXPECT_GE(afterCancel, 0);
    EXPECT_LT(afterCancel, 5000) << "a cancel ends the download within a few ticks";
    // The request on the wire at the cancel may still be answered and one
    // more may have left; nothing after that.
    EXPECT_LE(heardAfterCancel, 2u);

    // Followed event by event, out of the reported count.
    r310test::SpinFor(20ms);
    ASSERT_GE(rig.progress.size(), 40u);
    for (const Rig::Progress &p : rig.progress) {
        if (p.text.startsWith(QStringLiteral("Reading event"))) {
            EXPECT_EQ(p.total, 65535);
        }
    }
    EXPECT_TRUE(rig.progress.back().text.endsWith(QStringLiteral(" of 65535")));

    // Counts beyond what a request can name are cut to the largest one.
    auto huge = std::make_shared<EventDownload>();
    CancelAtProgress(rig, EventDownloadJob(std::numeric_limits<int>::max(), huge), 1, &outcome);
    EXPECT_EQ(huge->count, EventTable::kMaxEntries);
    EXPECT_EQ(huge->table.size(), EventTable::kMaxEntries);
}

TEST(HostileEventLog, RefusedEventsBeyondTheStoredOnesLeaveOnlyTheStoredLines)
{
    ConnectedRig rig(Hostile("software = 221\nevents = 5\nevent_counters = 0,300,0,300"));
    const auto result = DownloadEvents(rig, 300);
    EXPECT_EQ(result->outcome, Outcome::Done);
    EXPECT_TRUE(result->refusals);
    EXPECT_EQ(result->table.filledCount(), 5);
    EXPECT_EQ(result->missing.size(), 295u);
    EXPECT_EQ(result->lines.size(), 6);
    ExpectCleanLines(result->lines);
    EXPECT_EQ(MissingEventsText(result->missing, result->count),
              QStringLiteral("295 of 300 events could not be read and are not in the file: No 5, 6, 7, 8, 9, 10, 11, "
                             "12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22, 23, 24 and 275 more."));
}

TEST(HostileEventLog, EventsAtTheEdgesOfTheirFieldsGiveLinesOfSensibleNumbers)
{
    RigOptions options = RigOptions::EventLog();
    options.events = std::vector<sim::EventRecord>{
        AlarmEvent(1, 0, -128, 32767, -32768, 1, 255),
        AlarmEvent(13, kTopSeconds, 127, 32767, -32768, 0, 0),
        AlarmEvent(5, 0x80000000u, -10, -1500, 1, -1, 100),
        DeviceEvent(19, kTopSeconds, 255, 65535, 65535),
        DeviceEvent(20, 0, 0, 0, 0),
        AlarmEvent(255, kTopSeconds, 0, 0, 0, 0, 0),
        AlarmEvent(0, 0, 0, 0, 0, 0, 0),
    };
    ConnectedRig rig(options);
    const auto result = DownloadEvents(rig, 7);
    ASSERT_EQ(result->outcome, Outcome::Done);
    ExpectCleanLines(result->lines);
    ASSERT_EQ(result->lines.size(), 8);
    EXPECT_EQ(result->lines.at(1), QStringLiteral("0;01.01.1980 00:00:00;A1 ON;0,000000000;0,000000000;0,000000000;ppm CO;255%; ;"));
    EXPECT_EQ(result->lines.at(2),
              QStringLiteral("1;31.12.1979 23:59:59;A5 OFF;3,276700E+131;-3,276800E+131;0;ppm CO;0%; ;"));
    EXPECT_EQ(result->lines.at(3), QStringLiteral("2;13.12.1911 20:45:52;A5 ON;-0,000000150;0,000000000;0,000000000;ppm CO;100%; ;"));
    EXPECT_EQ(result->lines.at(4), QStringLiteral("3;31.12.1979 23:59:59;Dev-ON; ; ; ; ;255%;655-35 65535;"));
    EXPECT_EQ(result->lines.at(5), QStringLiteral("4;01.01.1980 00:00:00;Dev-OFF; ; ; ; ;0%;000-00 0;"));
    EXPECT_EQ(result->lines.at(6), QStringLiteral("5;31.12.1979 23:59:59;"));
    EXPECT_EQ(result->lines.at(7), QStringLiteral("6;01.01.1980 00:00:00;"));
}

TEST(HostileEventLog, ShortEventAnswersAreMissingAndLongOnesReadAsTheEvent)
{
    {
        ConnectedRig rig(Hostile("software = 221\nevents = 6\nshort_answer = 3\nfault_objects = 34"));
        const auto result = DownloadEvents(rig, 6);
        EXPECT_EQ(result->outcome, Outcome::Done);
        EXPECT_EQ(result->missing, (std::vector<int>{0, 1, 2}));
        EXPECT_EQ(result->lines.size(), 4);
        ExpectCleanLines(result->lines);
    }
    Rig plain(Hostile("software = 221\nevents = 6"));
    Rig filled(Hostile("software = 221\nevents = 6\nlong_answer = always\nlong_answer_fill = 0xFF"));
    ASSERT_TRUE(plain.Connect());
    ASSERT_TRUE(filled.Connect());
    const auto expected = DownloadEvents(plain, 6);
    const auto got = DownloadEvents(filled, 6);
    EXPECT_EQ(got->outcome, Outcome::Done);
    EXPECT_TRUE(got->missing.empty());
    EXPECT_EQ(got->lines, expected->lines);
}

TEST(HostileDataLogger, ReportedBlocksBeyondTheStoredOnesEndTheDownloadSayingWhere)
{
    ConnectedRig rig(Hostile("software = 221\nlogger_blocks = 3\nlogger_counters = 65535,65535,65535"));
    const auto result = DownloadLogger(rig);
    EXPECT_EQ(result->outcome, Outcome::ErrorReport);
    EXPECT_EQ(result->blockCount, 65535);
    EXPECT_EQ(result->currentBlock, 4);
    EXPECT_TRUE(result->data.blocks.empty()) << "nothing of a failed download is kept";
    EXPECT_EQ(result->data.blocks.capacity(), 0u);
    EXPECT_EQ(result->failureText(), QStringLiteral("Data logger download stopped at block 4 of 65535: the "
                                                    "instrument answered with an error report. Nothing was saved"));
    ASSERT_TRUE(result->info.has_value());
    const std::array<QString, 7> fields = result->info->fieldTexts();
    EXPECT_EQ(fields[0], QStringLiteral("65535"));
    EXPECT_EQ(fields[1], QStringLiteral("65535"));
    EXPECT_EQ(fields[2], QStringLiteral("65535"));
    r310test::SpinFor(20ms);
    ASSERT_FALSE(rig.progress.empty());
    EXPECT_EQ(rig.progress.front().total, 65535);
    EXPECT_EQ(rig.progress.back().text, QStringLiteral("Block 3 of 65535"));
}

TEST(HostileDataLogger, FortyThousandBlocksAreFollowedAndACancelEndsThemAtOnce)
{
    ConnectedRig rig(Hostile("software = 221\nlogger_blocks = 40000\nlogger_sets = 4"));
    auto result = std::make_shared<LoggerDownloadResult>();
    Outcome outcome = Outcome::Done;
    const qint64 afterCancel = CancelAtProgress(rig, DataLoggerDownloadJob(result), 25, &outcome);
    EXPECT_EQ(outcome, Outcome::Cancelled);
    EXPECT_EQ(result->outcome, Outcome::Cancelled);
    EXPECT_EQ(result->blockCount, 40000);
    EXPECT_GE(afterCancel, 0);
    EXPECT_LT(afterCancel, 5000);
    EXPECT_TRUE(result->data.blocks.empty());
    EXPECT_EQ(result->data.blocks.capacity(), 0u) << "the blocks reserved for the download are given back";
    r310test::SpinFor(20ms);
    int last = -1;
    for (const Rig::Progress &p : rig.progress) {
        if (p.total != 40000)
            continue;
        EXPECT_GE(p.done, last) << "progress only goes forward";
        last = p.done;
        EXPECT_EQ(p.text, LoggerProgressText(p.done, 40000));
    }
    EXPECT_GE(last, 25);
}

TEST(HostileDataLogger, BlocksOutsideTheirBoundsGiveAtMostFifteenLinesASetOfSensibleNumbers)
{
    for (const char *exponent : {"-128", "127", "-10"}) {
        ConnectedRig rig(Hostile(std::string("software = 221\nvalue = 32767\nvalue_swing = 0\nrange_end = 32767\n"
                                    "a1 = -32768\nlogger_blocks = 7\nlogger_interval = 65535\n"
                                    "block1 = samples=200 sets=4\nblock2 = sets=0\nblock3 = sets=5\n"
                                    "block4 = sets=255 samples=255\nblock5 = samples=16 set_state=0\n"
                                    "block6 = samples=255 sets=1\nblock7 = samples=0 sets=4\nexponent = ")
                        + exponent));
        const auto result = DownloadLogger(rig);
        ASSERT_TRUE(result->completed()) << result->failureText().toStdString();
        ASSERT_EQ(result->data.blocks.size(), 7u);
        // Only blocks with 1 to 4 sets have their sets read.
        const std::size_t sets[] = {4, 0, 0, 0, 1, 1, 4};
        for (std::size_t b = 0; b < 7; ++b)
            EXPECT_EQ(result->data.blocks[b].sets.size(), sets[b]) << "block " << b + 1;

        const QStringList lines = LoggerExportLines(result->data);
        ExpectCleanLines(lines);
        // 4 sets of 15 (200 reported), none, none, none, an invalid set, 15 (255 reported), 0 samples.
        int sampleLines = 0;
        for (const QString &line : lines)
            sampleLines += line.count(u';') == 4 && !line.startsWith(u' ') && line != kLoggerHeaderLine ? 1 : 0;
        EXPECT_EQ(sampleLines, 4 * 15 + 15) << exponent;
        // Samples near 32767, shown with at most nine decimals or in scientific notation.
        const QString shape = QByteArray(exponent) == "-128" ? QStringLiteral("^0,000000000$")
                            : QByteArray(exponent) == "127"  ? QStringLiteral("^3,276\\d{3}E\\+131$")
                                                             : QStringLiteral("^0,00000327\\d$");
        const QRegularExpression expected(shape);
        for (int i = 1; i <= 15; ++i) {
            const QString sample = lines.at(i).section(u';', 1, 1);
            EXPECT_TRUE(expected.match(sample).hasMatch()) << sample.toStdString() << " for exponent " << exponent;
        }
    }
}

TEST(HostileDataLogger, ShortLoggerAnswersEndTheDownloadAndLongOnesReadAsTheObject)
{
    for (const char *object : {"36", "37", "38"}) {
        ConnectedRig rig(Hostile(std::string("software = 221\nlogger_blocks = 3\nshort_answer = always\nfault_objects = ")
                        + object));
        const auto result = DownloadLogger(rig);
        EXPECT_EQ(result->outcome, Outcome::WrongAnswer) << object;
        EXPECT_EQ(result->currentBlock, QByteArray(object) == "36" ? 0 : 1) << object;
        EXPECT_TRUE(result->failureText().endsWith(
            QStringLiteral("the instrument's answer was incomplete. Nothing was saved")))
            << result->failureText().toStdString();
        EXPECT_TRUE(result->data.blocks.empty());
    }
    Rig plain(Hostile("software = 221\nlogger_blocks = 5\nlogger_sets = 2"));
    Rig filled(Hostile("software = 221\nlogger_blocks = 5\nlogger_sets = 2\nlong_answer = always"));
    ASSERT_TRUE(plain.Connect());
    ASSERT_TRUE(filled.Connect());
    const auto expected = DownloadLogger(plain);
    const auto got = DownloadLogger(filled);
    ASSERT_TRUE(got->completed()) << got->failureText().toStdString();
    EXPECT_EQ(LoggerExportLines(got->data), LoggerExportLines(expected->data));
}
