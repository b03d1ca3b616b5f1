// The Datalogging tab: the logger information, "Read" with its progress, the
// save dialog and the file, "No Data", a download cut short, "Set Paramet",
// "Clear", "Show"; and the file the window writes compared with r310ctl's.
#include "UiRig.h"

#include <BuildPrograms.h>
#include <DataloggingTab.h>
#include <GasTable.h>
#include <LogChart.h>
#include <LogViewer.h>

#include <QRegularExpression>
#include <QTableWidget>

#include <algorithm>

namespace {

using namespace r310;
using namespace r310::ui;
using namespace uitest;
using r310test::Entries;
using r310test::ReadAll;

RigOptions LoggerInstrument(int blocks, std::uint8_t sets = 1)
{
    RigOptions options;
    options.scenario.loggerBlocks = blocks;
    options.scenario.loggerSets = sets;
    options.idlePoll = false;
    return options;
}

// The instrument on a 9600-baud line with the product's tick: a download of
// sixty full blocks takes many seconds, time enough to end it half-way.
RigOptions SlowLoggerInstrument()
{
    RigOptions options = LoggerInstrument(60, 4);
    options.scenario.pacing = true;
    options.tick = 100ms;
    return options;
}

// Connected on the tab (unless told not to connect); "Read" saves to
// logger.csv in a folder of the test's own.
struct LoggerRig : WindowRig {
    explicit LoggerRig(RigOptions options, bool connect = true) : WindowRig(std::move(options))
    {
        EXPECT_TRUE(directory.isValid());
        dialogs.saveAnswer = file;
        if (connect) {
            EXPECT_TRUE(ConnectOn(InstrumentTab::Datalogging));
        }
    }
    bool Transfer(bool enabled) const
    {
        return l.Button8->isEnabled() == enabled && l.Button10->isEnabled() == enabled
               && l.Button11->isEnabled() == enabled;
    }
    // "Read", then waits until the download has ended: the buttons are back.
    bool Download()
    {
        l.Button8->click();
        return SpinUntil([this] { return Transfer(true) && Idle(); }, 20s);
    }
    // Types the interval and clicks "Set Paramet"; what the instrument heard meanwhile.
    Names SetInterval(const QString &typed)
    {
        const std::size_t before = line->size();
        l.Edit13->setText(typed);
        l.Button11->click();
        EXPECT_TRUE(Idle());
        return heard(before);
    }
    QStringList Files() const { return Entries(directory.path()); }

    const LoggerWidgets &l = w().logger;
    QTemporaryDir directory;
    const QString file = directory.filePath(QStringLiteral("logger.csv"));
};

std::size_t Count(const Names &requests, const std::string &name)
{
    return static_cast<std::size_t>(std::count(requests.begin(), requests.end(), name));
}

} // namespace

TEST(DataloggingTab, ShowsTheLoggerInformationInTheOrderOfItsFields)
{
    RigOptions options = LoggerInstrument(7);
    options.scenario.loggerObjects = {3, 4, 5, 6};
    options.scenario.loggerMaxBlocks = 480;
    options.scenario.loggerInterval = 90;
    LoggerRig rig(options);
    const LoggerWidgets &l = rig.l;
    // Obj3 is byte 9; byte 8 is kept but not shown.
    ExpectTexts({{l.Edit10, "7"}, {l.Edit11, "7"}, {l.Edit12, "480"}, {l.Edit13, "90"}, {l.Edit14, "3"},
                 {l.Edit15, "4"}, {l.Edit16, "6"}});
    // Obj1 to Obj3 go back to the instrument as read: nothing to type there.
    for (const QLineEdit *shown : {l.Edit14, l.Edit15, l.Edit16})
        EXPECT_TRUE(shown->isReadOnly()) << shown->objectName().toStdString();
    EXPECT_FALSE(l.Edit13->isReadOnly());
}

TEST(DataloggingTab, ReadDownloadsWithProgressHoldsTheTabAndSavesTheFile)
{
    LoggerRig rig(LoggerInstrument(24, 2));
    const LoggerWidgets &l = rig.l;
    std::vector<std::pair<int, int>> steps; // maximum, position
    const std::size_t before = rig.line->size();

    // While it runs (seen at its second block): the buttons stay disabled and
    // the tab cannot be left.
    bool checkedWhileRunning = false;
    QObject::connect(l.ProgressBar1, &QProgressBar::valueChanged, l.ProgressBar1, [&](int value) {
        steps.push_back({l.ProgressBar1->maximum(), value});
        if (value != 2 || checkedWhileRunning)
            return;
        checkedWhileRunning = true;
        EXPECT_TRUE(rig.Transfer(false));
        rig.window().tabGuard().requestTab(rig.window().IndexOf(InstrumentTab::General));
        EXPECT_EQ(rig.window().TabAt(rig.w().PageControl1->currentIndex()), InstrumentTab::Datalogging);
    });
    l.Button8->click();
    EXPECT_TRUE(rig.Transfer(false));
    ASSERT_TRUE(rig.Download());
    EXPECT_TRUE(checkedWhileRunning);

    // Maximum the block count, a step per block, back to 0 at the end.
    ASSERT_FALSE(steps.empty());
    EXPECT_EQ(steps.back(), (std::pair<int, int>{24, 0}));
    int shownPosition = 0;
    for (const auto &[maximum, position] : steps) {
        if (position == 0)
            continue;
        EXPECT_EQ(maximum, 24);
        EXPECT_GT(position, shownPosition);
        shownPosition = position;
    }
    EXPECT_EQ(shownPosition, 24);

    const Names heard = rig.heard(before);
    for (const auto &[name, count] : {std::pair{"R36", 1u}, std::pair{"R37", 24u}, std::pair{"R38", 48u}})
        EXPECT_EQ(Count(heard, name), count) << name;

    ASSERT_EQ(rig.dialogs.saveRequests.size(), 1);
    const RecordingDialogs::SaveRequest &save = rig.dialogs.saveRequests.front();
    EXPECT_EQ(save.title, QStringLiteral("Save Event"));
    EXPECT_EQ(save.defaultSuffix, QStringLiteral("csv"));
    EXPECT_TRUE(save.proposedName.startsWith(QStringLiteral("Logger_00001234_"))) << save.proposedName.toStdString();
    EXPECT_TRUE(save.proposedName.endsWith(QStringLiteral(".csv")));
    EXPECT_FALSE(save.proposedName.contains(u'*'));

    const QByteArray bytes = ReadAll(rig.file);
    EXPECT_TRUE(bytes.startsWith("Date/Time;Value;Gas;Alarm;\r\n"));
    EXPECT_TRUE(bytes.endsWith(";\r\n"));
    EXPECT_EQ(bytes.count("\r\n"), 1 + 24 * 2 * 15);
    EXPECT_EQ(bytes.count("\n"), bytes.count("\r\n"));
    // Blocks logged back to back make one section.
    EXPECT_FALSE(bytes.contains(" ; ; ; ;"));
    EXPECT_TRUE(bytes.contains(";unit0 gas1;ALARM;\r\n")); // the simulator's gas peak
    EXPECT_TRUE(rig.dialogs.errors.isEmpty()) << rig.dialogs.errors.join(u'\n').toStdString();

    // Once it has ended the tab can be left again.
    EXPECT_TRUE(rig.ShowTab(InstrumentTab::General));
}

TEST(DataloggingTab, AnEmptyLoggerSaysNoDataAndOpensNoDialog)
{
    LoggerRig rig(LoggerInstrument(0));
    ASSERT_TRUE(rig.Download());
    EXPECT_EQ(rig.dialogs.messages, QStringList{QStringLiteral("No Data")});
    EXPECT_TRUE(rig.dialogs.saveRequests.isEmpty());
    EXPECT_EQ(rig.l.ProgressBar1->value(), 0);
}

TEST(DataloggingTab, ACancelledDialogOrAnUnwritableFileWritesNothing)
{
    LoggerRig rig(LoggerInstrument(3));
    rig.dialogs.saveAnswer.clear();
    ASSERT_TRUE(rig.Download());
    EXPECT_EQ(rig.dialogs.saveRequests.size(), 1);
    EXPECT_TRUE(rig.dialogs.errors.isEmpty());

    rig.dialogs.saveAnswer = rig.directory.filePath(QStringLiteral("no/such/folder/logger.csv"));
    ASSERT_TRUE(rig.Download());
    const QString refusal = QStringLiteral("Cannot create file ") + QDir::toNativeSeparators(rig.dialogs.saveAnswer);
    EXPECT_EQ(rig.dialogs.errors, QStringList{refusal});
    EXPECT_TRUE(rig.Files().isEmpty());
}

TEST(DataloggingTab, ALostInstrumentLeavesTheExistingFileAndSaysWhy)
{
    RigOptions options = LoggerInstrument(20, 2);
    options.scenario.faults.lineDropAfter = 12;
    LoggerRig rig(options); // reads 35 and 36: two of the twelve
    ASSERT_TRUE(WriteFile(rig.file, "yesterday's download\r\n"));
    ASSERT_TRUE(rig.Download());
    EXPECT_TRUE(rig.dialogs.saveRequests.isEmpty());
    EXPECT_EQ(ReadAll(rig.file), QByteArray("yesterday's download\r\n"));
    EXPECT_EQ(rig.Files(), QStringList{QStringLiteral("logger.csv")});
    // 36, then blocks 1 to 3 with two sets each answered; block 4's header is lost.
    EXPECT_EQ(rig.dialogs.errors, QStringList{QStringLiteral("Data logger download stopped at block 4 of 20: the "
                                                             "instrument did not answer. Nothing was saved")});
    EXPECT_EQ(rig.l.ProgressBar1->value(), 0);
}

TEST(DataloggingTab, ClosingThePortEndsTheDownloadWithoutAFileOrAQuestion)
{
    LoggerRig rig(SlowLoggerInstrument());
    const LoggerWidgets &l = rig.l;
    l.Button8->click();
    ASSERT_TRUE(SpinUntil([&l] { return l.ProgressBar1->value() >= 2; }, 10s));
    rig.w().control.Button_ClosePort->click();
    ASSERT_TRUE(SpinUntil([&rig] { return rig.Transfer(true); }, 10s));
    ASSERT_TRUE(rig.Idle());
    EXPECT_TRUE(rig.dialogs.saveRequests.isEmpty());
    EXPECT_TRUE(rig.dialogs.errors.isEmpty()) << rig.dialogs.errors.join(u'\n').toStdString();
    EXPECT_TRUE(rig.Files().isEmpty());
    EXPECT_EQ(l.ProgressBar1->value(), 0);
}

TEST(DataloggingTab, ReadWithThePortClosedSaysOnlyWhatTheLinkSays)
{
    LoggerRig rig(LoggerInstrument(3), false);
    ASSERT_TRUE(rig.Download());
    EXPECT_EQ(rig.dialogs.messages, QStringList{QStringLiteral("Comport nicht ge\u00f6ffnet!")});
    EXPECT_TRUE(rig.dialogs.errors.isEmpty()) << rig.dialogs.errors.join(u'\n').toStdString();
    EXPECT_TRUE(rig.dialogs.saveRequests.isEmpty());
}

TEST(DataloggingTab, ClosingTheWindowDuringADownloadEndsIt)
{
    auto rig = std::make_unique<LoggerRig>(SlowLoggerInstrument());
    const LoggerWidgets &l = rig->l;
    l.Button8->click();
    ASSERT_TRUE(SpinUntil([&l] { return l.ProgressBar1->value() >= 1; }, 10s));
    rig->window().close();
    EXPECT_EQ(rig->window().connection(), nullptr);
    SpinFor(50ms);
    EXPECT_TRUE(rig->dialogs.saveRequests.isEmpty());
    rig.reset();
}

TEST(DataloggingTab, SetParametRefusesWithoutSendingAndWritesTheStoredRecord)
{
    LoggerRig rig(LoggerInstrument(5));
    const LoggerWidgets &l = rig.l;
    ASSERT_EQ(l.Edit13->text(), QStringLiteral("60"));

    for (const char *typed : {"29", "301", "65566"}) {
        SCOPED_TRACE(typed);
        rig.dialogs.messages.clear();
        EXPECT_TRUE(rig.SetInterval(QString::fromLatin1(typed)).empty());
        EXPECT_EQ(rig.dialogs.messages, QStringList{QStringLiteral("Error! from 30 to 300 allowed")});
        EXPECT_EQ(l.Edit13->text(), QStringLiteral("60"));
    }

    EXPECT_TRUE(rig.SetInterval(QStringLiteral("1 min")).empty());
    EXPECT_EQ(rig.dialogs.errors, QStringList{QStringLiteral("'1 min' is not a valid integer value")});
    EXPECT_EQ(l.Edit13->text(), QStringLiteral("1 min"));

    EXPECT_EQ(rig.SetInterval(QStringLiteral("300")), (Names{"R36", "R2", "W36", "R36"}));
    EXPECT_EQ(l.Edit13->text(), QStringLiteral("300"));
    EXPECT_EQ(rig.dialogs.errors.size(), 1);
}

TEST(DataloggingTab, ClearErasesAndShowsTheNewCount)
{
    LoggerRig rig(LoggerInstrument(9));
    const LoggerWidgets &l = rig.l;
    ASSERT_EQ(l.Edit11->text(), QStringLiteral("9"));
    rig.dialogs.questionAnswer = true;
    EXPECT_EQ(RequestNames(rig.During([&] { l.Button10->click(); })), (Names{"R2", "W127", "R36"}));
    ExpectTexts({{l.Edit11, "0"}, {l.Edit10, "0"}});
}

TEST(DataloggingTab, ProposedFileNameIsLoggerSerialAndTime)
{
    const QDateTime christmas(QDate(2008, 12, 24), QTime(13, 45, 10));
    EXPECT_EQ(DataloggingTab::ProposedFileName(QStringLiteral("00001234"), christmas),
              QStringLiteral("Logger_00001234_20081224_1345.csv"));
    EXPECT_EQ(DataloggingTab::ProposedFileName(QString(), christmas), QStringLiteral("Logger_20081224_1345.csv"));
    // Characters a file name may not hold are left out.
    EXPECT_EQ(DataloggingTab::ProposedFileName(QStringLiteral("12/34:*?"), christmas),
              QStringLiteral("Logger_1234_20081224_1345.csv"));
}

// The window against the simulator program on a pseudo-terminal, in German
// regional settings with the gas table library, then r310ctl against the same
// instrument: both files must be the same bytes.
TEST(DataloggingTab, TheWindowWritesTheBytesR310ctlWrites)
{
    const QStringList knownLogger{
        QStringLiteral("--software=221"),      QStringLiteral("--logger-blocks=6"),
        QStringLiteral("--logger-sets=2"),     QStringLiteral("--exponent=-2"),
        QStringLiteral("--block2=samples=12"), QStringLiteral("--block4=gap=3600 alarm=yes"),
        QStringLiteral("--block5=sets=3"),     QStringLiteral("--block6=state=3"),
        QStringLiteral("--no-pacing")};
    r310test::SimulatorProcess instrument(knownLogger);
    ASSERT_FALSE(instrument.device().isEmpty()) << "r310sim of this build did not start";
    const std::unique_ptr<GasTable> gasTable = BuildGasTable();
    ASSERT_TRUE(gasTable) << "KALTEX32 of this build is missing";
    LoggerRig rig(SerialPortInGerman(instrument.device(), *gasTable));
    ASSERT_TRUE(rig.Download());
    ASSERT_EQ(rig.dialogs.saveRequests.size(), 1) << rig.dialogs.errors.join(u'\n').toStdString();
    // The line is r310ctl's now.
    rig.window().ClosePort();
    ASSERT_TRUE(SpinUntil([&rig] { return !rig.window().connection()->portOpen(); }, 10s));

    const QByteArray fromWindow = ReadAll(rig.dialogs.saveAnswer);
    EXPECT_EQ(fromWindow, R310ctlFileInGerman(instrument.device(), "datalog", rig.directory.path()));
    // What the comparison covered: sections, alarms, German decimals, gas texts.
    EXPECT_EQ(fromWindow.count(" ; ; ; ;\r\n"), 2);
    EXPECT_TRUE(fromWindow.contains(";ALARM;\r\n"));
    EXPECT_TRUE(fromWindow.contains(";ppm CO; ;\r\n"));
    const QRegularExpression germanSample(QStringLiteral("\\.\\d{4} \\d\\d:\\d\\d:\\d\\d;-?\\d+,\\d\\d;"));
    EXPECT_TRUE(QString::fromLatin1(fromWindow).contains(germanSample));
}

TEST(DataloggingTab, ShowOpensTheDownloadInTheLogViewer)
{
    LoggerRig rig(LoggerInstrument(24, 1), false);
    ASSERT_TRUE(rig.Connect());
    // The Range tab's limits become the chart's alarm levels.
    ASSERT_TRUE(rig.ShowTab(InstrumentTab::Range));
    ASSERT_TRUE(rig.ShowTab(InstrumentTab::Datalogging));
    auto *show = rig.window().findChild<QPushButton *>(QStringLiteral("ButtonShowLogger"));
    ASSERT_NE(show, nullptr);
    EXPECT_FALSE(show->isEnabled());
    rig.dialogs.saveAnswer.clear(); // the viewer shows it also when it is not saved
    ASSERT_TRUE(rig.Download());
    ASSERT_TRUE(show->isEnabled());
    show->click();
    show->click(); // a second viewer of its own
    const QList<LogViewer *> viewers = rig.window().findChildren<LogViewer *>();
    ASSERT_EQ(viewers.size(), 2);
    LogViewer &viewer = *viewers.front();
    EXPECT_TRUE(viewer.isWindow());
    EXPECT_TRUE(viewer.chart().HasData());
    auto *exposure = viewer.findChild<QTableWidget *>(QStringLiteral("exposureTable"));
    ASSERT_NE(exposure, nullptr);
    ASSERT_EQ(exposure->rowCount(), 1);
    EXPECT_EQ(exposure->item(0, 4)->text(), QStringLiteral("360")); // 24 blocks of 15 samples
    EXPECT_EQ(exposure->item(0, 5)->text(), rig.l.Edit13->text());
    QStringList names;
    for (const QAbstractSeries *series : viewer.chart().series())
        names.append(series->name());
    for (const char *level : {"^A1 ", "^TWA "})
        EXPECT_EQ(names.filter(QRegularExpression(QString::fromLatin1(level))).size(), 1)
            << names.join(u'|').toStdString();
}
