// The "Event properties" tab against the simulated instrument, offscreen:
// the counters, "Read" with its progress, the save dialog and the file, an
// empty log, a cancelled dialog, the tab held during a transfer, a line that
// goes away, "Clear" before and from 2.11; and the file the window writes
// compared byte for byte with the one r310ctl writes in German settings.
#include "UiRig.h"
#include "TestApplication.h"

#include <SimulatedInstrument.h>

#include <BuildPrograms.h>
#include <EventPropertiesTab.h>
#include <GasTable.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTabWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

using namespace r310;
using namespace r310::ui;
using namespace uitest;
using Bytes = std::vector<std::uint8_t>;

using r310test::KnownEvents;
using r310test::Names;
using Wire = r310test::Line;
using r310test::ReadAll;
using r310test::Entries;

// The file of KnownEvents() in German settings with the rig's gas texts.
const QByteArray kKnownEventsFile =
    (r310test::KnownEventLines(QStringLiteral("unit0 gas1")).join(QStringLiteral("\r\n")) + QStringLiteral("\r\n")).toLatin1();

struct Instrument {
    sim::Scenario scenario = FastScenario(221);
    std::optional<std::vector<sim::EventRecord>> events = KnownEvents();
    bool idlePoll = false;
};

RigOptions EventInstrument(const Instrument &instrument, const std::shared_ptr<Wire> &wire)
{
    RigOptions options;
    options.scenario = instrument.scenario;
    options.idlePoll = instrument.idlePoll;
    options.locale = QLocale(QLocale::German, QLocale::Germany);
    // A paced line needs the product's tick for its answers to arrive in time.
    if (instrument.scenario.pacing)
        options.tick = 100ms;
    options.events = instrument.events;
    options.line = wire;
    return options;
}

bool ButtonsEnabled(const EventWidgets &e)
{
    return e.Button1->isEnabled() && e.Button2->isEnabled();
}

bool ButtonsDisabled(const EventWidgets &e)
{
    return !e.Button1->isEnabled() && !e.Button2->isEnabled();
}

EventPropertiesTab &Tab(WindowRig &rig)
{
    auto *tab = rig.window().findChild<EventPropertiesTab *>();
    if (!tab)
        std::abort();
    return *tab;
}

// Waits until "Read" or "Clear" has run to its end.
bool Done(WindowRig &rig)
{
    return SpinUntil([&rig] { return !Tab(rig).Busy(); }, 20s) && rig.Idle();
}

class EventTab : public ::testing::Test {
protected:
    std::shared_ptr<Wire> wire = std::make_shared<Wire>();
    QTemporaryDir directory;
};

TEST_F(EventTab, ShowsTheCountersAndMaxEventsIsEditableFrom211)
{
    Instrument instrument;
    instrument.scenario.maxEvents = 300;
    WindowRig rig(EventInstrument(instrument, wire));
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::EventProperties));
    const EventWidgets &e = rig.w().events;
    ExpectTexts({{e.Edit1, "3"}, {e.Edit2, "3"}, {e.Edit8, "0"}, {e.Edit9, "300"}});
    EXPECT_FALSE(e.Edit9->isReadOnly());
    EXPECT_TRUE(ButtonsEnabled(e));

    Instrument older;
    older.scenario = FastScenario(210);
    auto olderWire = std::make_shared<Wire>();
    WindowRig olderRig(EventInstrument(older, olderWire));
    ASSERT_TRUE(olderRig.ConnectOn(InstrumentTab::EventProperties));
    EXPECT_EQ(olderRig.w().events.Edit9->text(), QStringLiteral("192"));
    EXPECT_TRUE(olderRig.w().events.Edit9->isReadOnly());
}

TEST_F(EventTab, ReadDownloadsAndWritesTheFileTheUserChose)
{
    WindowRig rig(EventInstrument({}, wire));
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::EventProperties));
    const EventWidgets &e = rig.w().events;
    // An existing file is replaced (the dialog has asked before).
    rig.dialogs.saveAnswer = directory.filePath(QStringLiteral("events.csv"));
    {
        QFile old(rig.dialogs.saveAnswer);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("an older file that is longer than the new one, with other events in it\r\n");
    }
    const std::size_t before = wire->size();
    e.Button1->click();
    EXPECT_TRUE(ButtonsDisabled(e));
    ASSERT_TRUE(Done(rig));

    const auto heard = wire->since(before);
    ASSERT_EQ(Names(heard), (std::vector<std::string>{"R34", "R34", "R34"}));
    for (std::uint8_t n = 1; n <= 3; ++n)
        EXPECT_EQ(heard[n - 1u].payload, (Bytes{n, 0}));
    ASSERT_EQ(rig.dialogs.saveRequests.size(), 1);
    const RecordingDialogs::SaveRequest &save = rig.dialogs.saveRequests.front();
    EXPECT_EQ(save.title, QStringLiteral("Save Event"));
    EXPECT_EQ(save.defaultSuffix, QStringLiteral("csv"));
    EXPECT_EQ(save.proposedName, QStringLiteral("Evt00001234_%1.csv")
                                     .arg(QDate::currentDate().toString(QStringLiteral("yyyyMMdd"))));
    EXPECT_EQ(ReadAll(rig.dialogs.saveAnswer), kKnownEventsFile);
    EXPECT_EQ(Entries(directory.path()), QStringList{QStringLiteral("events.csv")});
    EXPECT_TRUE(ButtonsEnabled(e));
    EXPECT_TRUE(rig.dialogs.errors.isEmpty());
    const QString saved =
        QStringLiteral("3 of 3 events read; saved to ") + QDir::toNativeSeparators(rig.dialogs.saveAnswer);
    EXPECT_EQ(rig.dialogs.messages, QStringList{saved});
    EXPECT_EQ(Tab(rig).progressLabel()->text(), saved);
}

TEST_F(EventTab, CountOfZeroSendsNothingAndOpensNoDialog)
{
    Instrument empty;
    empty.events = std::vector<sim::EventRecord>{};
    WindowRig rig(EventInstrument(empty, wire));
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::EventProperties));
    const EventWidgets &e = rig.w().events;
    ASSERT_EQ(e.Edit2->text(), QStringLiteral("0"));
    rig.dialogs.saveAnswer = directory.filePath(QStringLiteral("events.csv"));
    const std::size_t before = wire->size();
    e.Button1->click();
    ASSERT_TRUE(Done(rig));
    SpinFor(30ms);
    EXPECT_TRUE(wire->since(before).empty());
    EXPECT_TRUE(rig.dialogs.saveRequests.isEmpty());
    EXPECT_TRUE(rig.dialogs.errors.isEmpty());
    EXPECT_TRUE(rig.dialogs.messages.isEmpty());
    EXPECT_TRUE(Entries(directory.path()).isEmpty());
    EXPECT_TRUE(ButtonsEnabled(e));

    // A count that is no number ends "Read" with the runtime's text.
    e.Edit2->setText(QStringLiteral("12a"));
    e.Button1->click();
    ASSERT_TRUE(Done(rig));
    EXPECT_EQ(rig.dialogs.errors, QStringList{QStringLiteral("'12a' is not a valid integer value")});
    EXPECT_TRUE(wire->since(before).empty());
    EXPECT_TRUE(ButtonsEnabled(e));
}

TEST_F(EventTab, CancellingTheDialogWritesNothing)
{
    WindowRig rig(EventInstrument({}, wire));
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::EventProperties));
    rig.dialogs.saveAnswer.clear();
    rig.w().events.Button1->click();
    ASSERT_TRUE(Done(rig));
    EXPECT_EQ(rig.dialogs.saveRequests.size(), 1);
    EXPECT_TRUE(Entries(directory.path()).isEmpty());
    EXPECT_TRUE(Entries(QDir::currentPath()).filter(QStringLiteral("Evt")).isEmpty());
    EXPECT_TRUE(ButtonsEnabled(rig.w().events));
    EXPECT_TRUE(rig.dialogs.errors.isEmpty());
}

TEST_F(EventTab, FileThatCannotBeCreatedIsSaidAndTheButtonsComeBack)
{
    WindowRig rig(EventInstrument({}, wire));
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::EventProperties));
    rig.dialogs.saveAnswer = directory.filePath(QStringLiteral("no such folder/events.csv"));
    rig.w().events.Button1->click();
    ASSERT_TRUE(Done(rig));
    EXPECT_EQ(rig.dialogs.errors,
              QStringList{QStringLiteral("Cannot create file ") + QDir::toNativeSeparators(rig.dialogs.saveAnswer)});
    EXPECT_TRUE(Entries(directory.path()).isEmpty());
    EXPECT_TRUE(ButtonsEnabled(rig.w().events));
}

TEST_F(EventTab, EventsThatCouldNotBeReadAreLeftOutAndNamed)
{
    Instrument instrument;
    // The first event read is answered with an error report.
    instrument.scenario.faults.errorReport.next = 1;
    instrument.scenario.faults.objects = {kObjectEventRecord};
    WindowRig rig(EventInstrument(instrument, wire));
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::EventProperties));
    rig.dialogs.saveAnswer = directory.filePath(QStringLiteral("events.csv"));
    rig.w().events.Button1->click();
    ASSERT_TRUE(Done(rig));
    const QList<QByteArray> lines = kKnownEventsFile.split('\n');
    EXPECT_EQ(ReadAll(rig.dialogs.saveAnswer), lines[0] + '\n' + lines[2] + '\n' + lines[3] + '\n');
    EXPECT_EQ(rig.dialogs.messages,
              QStringList{QStringLiteral("2 of 3 events read; saved to %1.\n\n"
                                         "1 of 3 events could not be read and is not in the file: No 0.")
                              .arg(QDir::toNativeSeparators(rig.dialogs.saveAnswer))});
}

TEST_F(EventTab, TabIsHeldDuringATransferAndCloseComportEndsItWithoutAFile)
{
    Instrument slow;
    slow.scenario.pacing = true; // 9600 baud: each event takes a while
    slow.events.reset();
    slow.scenario.events = 60;
    WindowRig rig(EventInstrument(slow, wire));
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::EventProperties));
    const EventWidgets &e = rig.w().events;
    rig.dialogs.saveAnswer = directory.filePath(QStringLiteral("events.csv"));
    e.Button1->click();
    QProgressBar &bar = *Tab(rig).progressBar();
    ASSERT_TRUE(SpinUntil([&bar] { return bar.isVisible() && bar.value() >= 3; }, 10s))
        << Tab(rig).progressLabel()->text().toStdString() << rig.dialogs.errors.join(u'|').toStdString();
    EXPECT_EQ(bar.maximum(), 60);
    EXPECT_TRUE(bar.format().startsWith(QStringLiteral("Reading event ")));
    EXPECT_TRUE(bar.format().endsWith(QStringLiteral(" of 60")));

    // Every way of leaving is refused while the events come in.
    QTabWidget &tabs = *rig.w().PageControl1;
    const int events = rig.window().IndexOf(InstrumentTab::EventProperties);
    EXPECT_FALSE(rig.window().tabGuard().requestTab(rig.window().IndexOf(InstrumentTab::General)));
    EXPECT_FALSE(rig.window().tabGuard().requestTab(rig.window().tabGuard().neighbour(1)));
    EXPECT_EQ(tabs.currentIndex(), events);
    EXPECT_TRUE(ButtonsDisabled(e));

    rig.w().control.Button_ClosePort->click();
    ASSERT_TRUE(Done(rig));
    SpinFor(50ms);
    EXPECT_TRUE(rig.dialogs.saveRequests.isEmpty());
    EXPECT_TRUE(rig.dialogs.errors.isEmpty());
    EXPECT_TRUE(rig.dialogs.messages.isEmpty());
    EXPECT_TRUE(Entries(directory.path()).isEmpty());
    EXPECT_TRUE(ButtonsEnabled(e));
    EXPECT_FALSE(bar.isVisible());
    // Without a transfer the tab may be left again.
    EXPECT_TRUE(rig.window().tabGuard().requestTab(rig.window().IndexOf(InstrumentTab::General)));
}

TEST_F(EventTab, ClosingTheWindowDuringATransferWritesNothingAndAsksNothing)
{
    Instrument slow;
    slow.scenario.pacing = true;
    slow.events.reset();
    slow.scenario.events = 60;
    auto rig = std::make_unique<WindowRig>(EventInstrument(slow, wire));
    ASSERT_TRUE(rig->ConnectOn(InstrumentTab::EventProperties));
    rig->dialogs.saveAnswer = directory.filePath(QStringLiteral("events.csv"));
    rig->w().events.Button1->click();
    QProgressBar &bar = *Tab(*rig).progressBar();
    ASSERT_TRUE(SpinUntil([&bar] { return bar.value() >= 2; }, 10s));
    const std::size_t heardAtClose = wire->size();
    rig->window().close();
    EXPECT_EQ(rig->window().connection(), nullptr);
    SpinFor(100ms);
    EXPECT_LE(wire->size(), heardAtClose + 1);
    EXPECT_TRUE(rig->dialogs.saveRequests.isEmpty());
    EXPECT_TRUE(rig->dialogs.errors.isEmpty());
    EXPECT_TRUE(rig->dialogs.messages.isEmpty());
    EXPECT_TRUE(Entries(directory.path()).isEmpty());
    rig.reset();
}

TEST_F(EventTab, LineGoneMidwayLeavesAnExistingFileUntouchedWithOneMessage)
{
    Instrument instrument;
    instrument.events.reset();
    instrument.scenario.events = 24;
    instrument.scenario.faults.lineDropAfter = 4; // the log answers four requests, then nothing
    WindowRig rig(EventInstrument(instrument, wire));
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::EventProperties)); // reads 35 and 36: two of the four
    const QString path = directory.filePath(QStringLiteral("events.csv"));
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("the technician's earlier export\r\n");
    }
    rig.dialogs.saveAnswer = path;
    rig.w().events.Button1->click();
    ASSERT_TRUE(Done(rig));
    EXPECT_EQ(rig.dialogs.errors,
              QStringList{QStringLiteral("The instrument stopped answering at event 4 of 24. No file was saved")});
    EXPECT_TRUE(rig.dialogs.messages.isEmpty());
    EXPECT_TRUE(rig.dialogs.saveRequests.isEmpty());
    EXPECT_EQ(ReadAll(path), QByteArray("the technician's earlier export\r\n"));
    EXPECT_EQ(Entries(directory.path()), QStringList{QStringLiteral("events.csv")});
    EXPECT_TRUE(ButtonsEnabled(rig.w().events));
}

TEST_F(EventTab, ClearSendsTheTypedMaximumFrom211AndRefusesWhatCannotBeHeld)
{
    WindowRig rig(EventInstrument({}, wire));
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::EventProperties));
    const EventWidgets &e = rig.w().events;
    rig.dialogs.questionAnswer = true;

    for (const auto &[typed, refusal] :
         {std::pair{QStringLiteral("abc"), QStringLiteral("'abc' is not a valid integer value")},
          std::pair{QStringLiteral("65728"), QStringLiteral("Max Events: 65728 is outside the allowed range 1 to 513")},
          std::pair{QStringLiteral("0"), QStringLiteral("Max Events: 0 is outside the allowed range 1 to 513")}}) {
        rig.dialogs.errors.clear();
        const std::size_t before = wire->size();
        e.Edit9->setText(typed);
        e.Button2->click();
        ASSERT_TRUE(Done(rig));
        EXPECT_EQ(rig.dialogs.errors, QStringList{refusal});
        EXPECT_TRUE(wire->since(before).empty()) << typed.toStdString();
        EXPECT_TRUE(ButtonsEnabled(e));
    }

    rig.dialogs.errors.clear();
    const std::size_t before = wire->size();
    e.Edit9->setText(QStringLiteral("300"));
    e.Button2->click();
    EXPECT_TRUE(ButtonsDisabled(e));
    ASSERT_TRUE(Done(rig));
    const auto heard = wire->since(before);
    ASSERT_EQ(Names(heard), (std::vector<std::string>{"R2", "W35", "R35", "R36"}));
    EXPECT_EQ(heard[1].payload, (Bytes{0, 0, 0, 0, 0, 0, 0x2C, 0x01, 0, 0, 0, 0}));
    EXPECT_EQ(e.Edit2->text(), QStringLiteral("0"));
    EXPECT_EQ(e.Edit9->text(), QStringLiteral("300"));
    EXPECT_TRUE(rig.dialogs.errors.isEmpty());
    EXPECT_TRUE(ButtonsEnabled(e));
}

TEST_F(EventTab, ClearBefore211Sends192WhateverMaxEventsShows)
{
    Instrument older;
    older.scenario = FastScenario(210);
    WindowRig rig(EventInstrument(older, wire));
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::EventProperties));
    const EventWidgets &e = rig.w().events;
    ASSERT_TRUE(e.Edit9->isReadOnly());
    rig.dialogs.questionAnswer = true;
    e.Edit9->setText(QStringLiteral("400"));
    const std::size_t before = wire->size();
    e.Button2->click();
    ASSERT_TRUE(Done(rig));
    const auto heard = wire->since(before);
    ASSERT_EQ(FrameNames(heard, 2), (std::vector<std::string>{"R2", "W35"}));
    EXPECT_EQ(heard[1].payload, (Bytes{0, 0, 0, 0, 0, 0, 192, 0, 0, 0, 0, 0}));
    EXPECT_EQ(e.Edit9->text(), QStringLiteral("192"));
}

TEST(EventTabAcceptance, WindowAndR310ctlWriteTheSameBytesInGermanSettings)
{
    // One simulated instrument on a pseudo-terminal serves both in turn.
    r310test::SimulatorProcess simulator({QStringLiteral("--software=221"), QStringLiteral("--events=30")});
    ASSERT_FALSE(simulator.device().isEmpty());
    const QString buildDirectory = QFileInfo(r310test::BuildProgram(QStringLiteral("r310ctl"))).absolutePath();
    QString gasTableError;
    const std::unique_ptr<GasTable> gasTable = GasTable::Load({buildDirectory}, &gasTableError);
    ASSERT_TRUE(gasTable) << gasTableError.toStdString();

    QTemporaryDir directory;
    const QString windowFile = directory.filePath(QStringLiteral("window.csv"));
    const QString ctlFile = directory.filePath(QStringLiteral("r310ctl.csv"));
    {
        WindowRig rig(SerialPortInGerman(simulator.device(), *gasTable));
        ASSERT_TRUE(rig.ConnectOn(InstrumentTab::EventProperties));
        ASSERT_EQ(rig.w().events.Edit2->text(), QStringLiteral("30"));
        rig.dialogs.saveAnswer = windowFile;
        rig.w().events.Button1->click();
        ASSERT_TRUE(Done(rig));
        ASSERT_TRUE(rig.dialogs.errors.isEmpty()) << rig.dialogs.errors.join(u'\n').toStdString();
        rig.w().control.Button_ClosePort->click();
        ASSERT_TRUE(SpinUntil([&rig] { return !rig.window().connection()->portOpen(); }, 5s));
    }

    QTemporaryDir configHome;
    const CtlRun ctl = RunR310ctlInGerman(
        {QStringLiteral("--port"), simulator.device(), QStringLiteral("events"), QStringLiteral("--out"), ctlFile},
        configHome.path());
    ASSERT_TRUE(ctl.finished);
    EXPECT_EQ(ctl.exitCode, 0) << ctl.errors;

    const QByteArray fromWindow = ReadAll(windowFile);
    const QByteArray fromCtl = ReadAll(ctlFile);
    EXPECT_EQ(fromWindow, fromCtl);
    // 30 events, each line with its CR LF, German dates and decimal commas.
    EXPECT_EQ(fromWindow.count("\r\n"), 31);
    EXPECT_TRUE(fromWindow.startsWith("No;Date Time;Typ;Value;STEL(15min);TWA(8h);Gas;BAT;MK\r\n0;"));
    EXPECT_TRUE(fromWindow.contains(";Dev-ON; ; ; ; ;"));
    EXPECT_TRUE(fromWindow.contains(" ON;")) << "alarm events";
    const QList<QByteArray> lines = fromWindow.split('\n');
    EXPECT_TRUE(lines[1].contains('.') && lines[1].count(':') == 2) << lines[1].toStdString();
}

} // namespace

int main(int argc, char **argv)
{
    return uitest::RunWidgetTests(argc, argv);
}
