// The "Event properties" tab: the counters, "Read" with its progress, the save
// dialog and the file, "Clear" before and from 2.11; and the file the window
// writes compared byte for byte with the one r310ctl writes.
#include "UiRig.h"

#include <BuildPrograms.h>
#include <EventPropertiesTab.h>
#include <GasTable.h>

#include <QDateTime>

namespace {

using namespace r310;
using namespace r310::ui;
using namespace uitest;
using r310test::Entries;
using r310test::KnownEvents;
using r310test::ReadAll;

// The file of KnownEvents() in German settings with the rig's gas texts.
const QByteArray kKnownEventsFile =
    (r310test::KnownEventLines(QStringLiteral("unit0 gas1")).join(QStringLiteral("\r\n")) + QStringLiteral("\r\n"))
        .toLatin1();

struct Instrument {
    sim::Scenario scenario = FastScenario(221);
    std::optional<std::vector<sim::EventRecord>> events = KnownEvents();
};

// The instrument as given, KnownEvents() unless told otherwise, the slow one
// with 60 events on a 9600-baud line: each event takes a while.
Instrument Older()
{
    return {FastScenario(210)};
}
Instrument Slow()
{
    Instrument slow;
    slow.scenario.pacing = true;
    slow.events.reset();
    slow.scenario.events = 60;
    return slow;
}

// Connected, on the tab, in German settings; "Read" saves to events.csv in a
// folder of the test's own.
struct EventRig : WindowRig {
    explicit EventRig(const Instrument &instrument = {}) : WindowRig(Options(instrument))
    {
        EXPECT_TRUE(ConnectOn(InstrumentTab::EventProperties));
        dialogs.saveAnswer = file;
    }
    static RigOptions Options(const Instrument &instrument)
    {
        RigOptions options;
        options.scenario = instrument.scenario;
        options.idlePoll = false;
        options.locale = QLocale(QLocale::German, QLocale::Germany);
        // A paced line needs the product's tick for its answers to arrive in time.
        if (instrument.scenario.pacing)
            options.tick = 100ms;
        options.events = instrument.events;
        return options;
    }
    EventPropertiesTab &Tab() { return *window().findChild<EventPropertiesTab *>(); }
    // Waits until "Read" or "Clear" has run to its end.
    bool Done() { return SpinUntil([this] { return !Tab().Busy(); }, 20s) && Idle(); }
    // Clicks the button and returns what the instrument heard until it has run to its end.
    std::vector<LineFrame> Run(QPushButton *button)
    {
        return During([&] {
            button->click();
            EXPECT_TRUE(Done());
        });
    }
    bool Buttons(bool enabled) const
    {
        return e.Button1->isEnabled() == enabled && e.Button2->isEnabled() == enabled;
    }
    QStringList Files() const { return Entries(directory.path()); }

    const EventWidgets &e = w().events;
    QTemporaryDir directory;
    const QString file = directory.filePath(QStringLiteral("events.csv"));
};

TEST(EventTab, ShowsTheCountersAndMaxEventsIsEditableFrom211)
{
    Instrument instrument;
    instrument.scenario.maxEvents = 300;
    EventRig rig(instrument);
    ExpectTexts({{rig.e.Edit1, "3"}, {rig.e.Edit2, "3"}, {rig.e.Edit8, "0"}, {rig.e.Edit9, "300"}});
    EXPECT_FALSE(rig.e.Edit9->isReadOnly());
    EXPECT_TRUE(rig.Buttons(true));

    EventRig older(Older());
    EXPECT_EQ(older.e.Edit9->text(), QStringLiteral("192"));
    EXPECT_TRUE(older.e.Edit9->isReadOnly());
}

TEST(EventTab, ReadDownloadsAndWritesTheFileTheUserChose)
{
    EventRig rig;
    // An existing file is replaced (the dialog has asked before).
    ASSERT_TRUE(WriteFile(rig.file, "an older file that is longer than the new one, with other events in it\r\n"));
    const std::vector<LineFrame> heard = rig.During([&] {
        rig.e.Button1->click();
        EXPECT_TRUE(rig.Buttons(false));
        EXPECT_TRUE(rig.Done());
    });
    ExpectFrames(heard, {{"R34", Bytes{1, 0}}, {"R34", Bytes{2, 0}}, {"R34", Bytes{3, 0}}});
    EXPECT_EQ(heard.size(), 3u);
    ASSERT_EQ(rig.dialogs.saveRequests.size(), 1);
    const RecordingDialogs::SaveRequest &save = rig.dialogs.saveRequests.front();
    EXPECT_EQ(save.title, QStringLiteral("Save Event"));
    EXPECT_EQ(save.defaultSuffix, QStringLiteral("csv"));
    EXPECT_EQ(save.proposedName, QStringLiteral("Evt00001234_%1.csv")
                                     .arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))));
    EXPECT_EQ(ReadAll(rig.file), kKnownEventsFile);
    EXPECT_EQ(rig.Files(), QStringList{QStringLiteral("events.csv")});
    EXPECT_TRUE(rig.Buttons(true));
    EXPECT_TRUE(rig.dialogs.errors.isEmpty());
    const QString saved = QStringLiteral("3 of 3 events read; saved to ") + QDir::toNativeSeparators(rig.file);
    EXPECT_EQ(rig.dialogs.messages, QStringList{saved});
    EXPECT_EQ(rig.Tab().progressLabel()->text(), saved);
}

TEST(EventTab, CountOfZeroSendsNothingAndOpensNoDialog)
{
    Instrument empty;
    empty.events = std::vector<sim::EventRecord>{};
    EventRig rig(empty);
    ASSERT_EQ(rig.e.Edit2->text(), QStringLiteral("0"));
    EXPECT_TRUE(rig.Run(rig.e.Button1).empty());
    SpinFor(30ms);
    ExpectNothingSaid(rig.dialogs);
    EXPECT_TRUE(rig.Files().isEmpty());
    EXPECT_TRUE(rig.Buttons(true));

    // A count that is no number ends "Read" with the runtime's text.
    rig.e.Edit2->setText(QStringLiteral("12a"));
    EXPECT_TRUE(rig.Run(rig.e.Button1).empty());
    EXPECT_EQ(rig.dialogs.errors, QStringList{QStringLiteral("'12a' is not a valid integer value")});
    EXPECT_TRUE(rig.Buttons(true));
}

TEST(EventTab, ACancelledDialogOrAFileThatCannotBeCreatedWritesNothing)
{
    EventRig rig;
    rig.dialogs.saveAnswer.clear();
    rig.Run(rig.e.Button1);
    EXPECT_EQ(rig.dialogs.saveRequests.size(), 1);
    EXPECT_TRUE(rig.Files().isEmpty());
    EXPECT_TRUE(Entries(QDir::currentPath()).filter(QStringLiteral("Evt")).isEmpty());
    EXPECT_TRUE(rig.Buttons(true));
    EXPECT_TRUE(rig.dialogs.errors.isEmpty());

    rig.dialogs.saveAnswer = rig.directory.filePath(QStringLiteral("no such folder/events.csv"));
    rig.Run(rig.e.Button1);
    EXPECT_EQ(rig.dialogs.errors,
              QStringList{QStringLiteral("Cannot create file ") + QDir::toNativeSeparators(rig.dialogs.saveAnswer)});
    EXPECT_TRUE(rig.Files().isEmpty());
    EXPECT_TRUE(rig.Buttons(true));
}

TEST(EventTab, EventsThatCouldNotBeReadAreLeftOutAndNamed)
{
    Instrument instrument;
    // The first event read is answered with an error report.
    instrument.scenario.faults.errorReport.next = 1;
    instrument.scenario.faults.objects = {kObjectEventRecord};
    EventRig rig(instrument);
    rig.Run(rig.e.Button1);
    const QList<QByteArray> lines = kKnownEventsFile.split('\n');
    EXPECT_EQ(ReadAll(rig.file), lines[0] + '\n' + lines[2] + '\n' + lines[3] + '\n');
    EXPECT_EQ(rig.dialogs.messages,
              QStringList{QStringLiteral("2 of 3 events read; saved to %1.\n\n"
                                         "1 of 3 events could not be read and is not in the file: No 0.")
                              .arg(QDir::toNativeSeparators(rig.file))});
}

TEST(EventTab, TabIsHeldDuringATransferAndCloseComportEndsItWithoutAFile)
{
    EventRig rig(Slow());
    rig.e.Button1->click();
    QProgressBar &bar = *rig.Tab().progressBar();
    ASSERT_TRUE(SpinUntil([&bar] { return bar.isVisible() && bar.value() >= 3; }, 10s))
        << rig.Tab().progressLabel()->text().toStdString() << rig.dialogs.errors.join(u'|').toStdString();
    EXPECT_EQ(bar.maximum(), 60);
    EXPECT_TRUE(bar.format().startsWith(QStringLiteral("Reading event ")));
    EXPECT_TRUE(bar.format().endsWith(QStringLiteral(" of 60")));

    // Every way of leaving is refused while the events come in.
    TabChangeGuard &guard = rig.window().tabGuard();
    EXPECT_FALSE(guard.requestTab(rig.window().IndexOf(InstrumentTab::General)));
    EXPECT_FALSE(guard.requestTab(guard.neighbour(1)));
    EXPECT_EQ(rig.w().PageControl1->currentIndex(), rig.window().IndexOf(InstrumentTab::EventProperties));
    EXPECT_TRUE(rig.Buttons(false));

    rig.w().control.Button_ClosePort->click();
    ASSERT_TRUE(rig.Done());
    SpinFor(50ms);
    ExpectNothingSaid(rig.dialogs);
    EXPECT_TRUE(rig.Files().isEmpty());
    EXPECT_TRUE(rig.Buttons(true));
    EXPECT_FALSE(bar.isVisible());
    // Without a transfer the tab may be left again.
    EXPECT_TRUE(guard.requestTab(rig.window().IndexOf(InstrumentTab::General)));
}

TEST(EventTab, ClosingTheWindowDuringATransferWritesNothingAndAsksNothing)
{
    auto rig = std::make_unique<EventRig>(Slow());
    rig->e.Button1->click();
    QProgressBar &bar = *rig->Tab().progressBar();
    ASSERT_TRUE(SpinUntil([&bar] { return bar.value() >= 2; }, 10s));
    const std::size_t heardAtClose = rig->line->size();
    rig->window().close();
    EXPECT_EQ(rig->window().connection(), nullptr);
    SpinFor(100ms);
    EXPECT_LE(rig->line->size(), heardAtClose + 1);
    ExpectNothingSaid(rig->dialogs);
    EXPECT_TRUE(rig->Files().isEmpty());
    rig.reset();
}

TEST(EventTab, LineGoneMidwayLeavesAnExistingFileUntouchedWithOneMessage)
{
    Instrument instrument;
    instrument.events.reset();
    instrument.scenario.events = 24;
    instrument.scenario.faults.lineDropAfter = 4; // the log answers four requests, then nothing
    EventRig rig(instrument);                      // reads 35 and 36: two of the four
    ASSERT_TRUE(WriteFile(rig.file, "the technician's earlier export\r\n"));
    rig.Run(rig.e.Button1);
    EXPECT_EQ(rig.dialogs.errors,
              QStringList{QStringLiteral("The instrument stopped answering at event 4 of 24. No file was saved")});
    EXPECT_TRUE(rig.dialogs.messages.isEmpty());
    EXPECT_TRUE(rig.dialogs.saveRequests.isEmpty());
    EXPECT_EQ(ReadAll(rig.file), QByteArray("the technician's earlier export\r\n"));
    EXPECT_EQ(rig.Files(), QStringList{QStringLiteral("events.csv")});
    EXPECT_TRUE(rig.Buttons(true));
}

TEST(EventTab, ClearSendsTheTypedMaximumFrom211AndRefusesWhatCannotBeHeld)
{
    EventRig rig;
    rig.dialogs.questionAnswer = true;
    for (const auto &[typed, refusal] :
         {std::pair{"abc", "'abc' is not a valid integer value"},
          std::pair{"65728", "Max Events: 65728 is outside the allowed range 1 to 513"},
          std::pair{"0", "Max Events: 0 is outside the allowed range 1 to 513"}}) {
        SCOPED_TRACE(typed);
        rig.dialogs.errors.clear();
        rig.e.Edit9->setText(QString::fromLatin1(typed));
        EXPECT_TRUE(rig.Run(rig.e.Button2).empty());
        EXPECT_EQ(rig.dialogs.errors, QStringList{QString::fromLatin1(refusal)});
        EXPECT_TRUE(rig.Buttons(true));
    }

    rig.dialogs.errors.clear();
    rig.e.Edit9->setText(QStringLiteral("300"));
    const std::vector<LineFrame> heard = rig.During([&] {
        rig.e.Button2->click();
        EXPECT_TRUE(rig.Buttons(false));
        EXPECT_TRUE(rig.Done());
    });
    EXPECT_EQ(heard.size(), 4u);
    ExpectFrames(heard, {{"R2"}, {"W35", Bytes{0, 0, 0, 0, 0, 0, 0x2C, 0x01, 0, 0, 0, 0}}, {"R35"}, {"R36"}});
    ExpectTexts({{rig.e.Edit2, "0"}, {rig.e.Edit9, "300"}});
    EXPECT_TRUE(rig.dialogs.errors.isEmpty());
    EXPECT_TRUE(rig.Buttons(true));
}

TEST(EventTab, ClearBefore211Sends192WhateverMaxEventsShows)
{
    EventRig rig(Older());
    ASSERT_TRUE(rig.e.Edit9->isReadOnly());
    rig.dialogs.questionAnswer = true;
    rig.e.Edit9->setText(QStringLiteral("400"));
    ExpectFrames(rig.Run(rig.e.Button2), {{"R2"}, {"W35", Bytes{0, 0, 0, 0, 0, 0, 192, 0, 0, 0, 0, 0}}});
    EXPECT_EQ(rig.e.Edit9->text(), QStringLiteral("192"));
}

TEST(EventTabAcceptance, WindowAndR310ctlWriteTheSameBytesInGermanSettings)
{
    // One simulated instrument on a pseudo-terminal serves both in turn.
    r310test::SimulatorProcess simulator({QStringLiteral("--software=221"), QStringLiteral("--events=30")});
    ASSERT_FALSE(simulator.device().isEmpty());
    const std::unique_ptr<GasTable> gasTable = BuildGasTable();
    ASSERT_TRUE(gasTable) << "KALTEX32 of this build is missing";
    QTemporaryDir directory;
    const QString windowFile = directory.filePath(QStringLiteral("window.csv"));
    {
        WindowRig rig(SerialPortInGerman(simulator.device(), *gasTable));
        ASSERT_TRUE(rig.ConnectOn(InstrumentTab::EventProperties));
        ASSERT_EQ(rig.w().events.Edit2->text(), QStringLiteral("30"));
        rig.dialogs.saveAnswer = windowFile;
        rig.w().events.Button1->click();
        ASSERT_TRUE(SpinUntil([&rig] { return !rig.window().findChild<EventPropertiesTab *>()->Busy(); }, 20s));
        ASSERT_TRUE(rig.Idle());
        ASSERT_TRUE(rig.dialogs.errors.isEmpty()) << rig.dialogs.errors.join(u'\n').toStdString();
        ASSERT_TRUE(rig.ClosePort());
    }

    const QByteArray fromWindow = ReadAll(windowFile);
    EXPECT_EQ(fromWindow, R310ctlFileInGerman(simulator.device(), "events", directory.path()));
    // 30 events, each line with its CR LF, German dates and decimal commas.
    EXPECT_EQ(fromWindow.count("\r\n"), 31);
    EXPECT_TRUE(fromWindow.startsWith("No;Date Time;Typ;Value;STEL(15min);TWA(8h);Gas;BAT;MK\r\n0;"));
    EXPECT_TRUE(fromWindow.contains(";Dev-ON; ; ; ; ;"));
    EXPECT_TRUE(fromWindow.contains(" ON;")) << "alarm events";
    const QList<QByteArray> lines = fromWindow.split('\n');
    EXPECT_TRUE(lines[1].contains('.') && lines[1].count(':') == 2) << lines[1].toStdString();
}

} // namespace
