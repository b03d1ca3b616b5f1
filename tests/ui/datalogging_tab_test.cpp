// The Datalogging tab against the simulated instrument, offscreen: the
// logger information, "Read" with its progress, the save dialog and the
// file, "No Data", a download cut short, "Set Paramet" and "Clear"; and the
// file the window writes compared byte for byte with r310ctl's.
#include "UiRig.h"
#include "TestApplication.h"

#include <BuildPrograms.h>
#include <DataloggingTab.h>
#include <GasTable.h>
#include <LogChart.h>
#include <LogViewer.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>

namespace {

using namespace r310;
using namespace r310::ui;
using namespace uitest;
using Requests = std::vector<std::string>;
using r310test::ReadAll;
using r310test::Entries;

RigOptions LoggerInstrument(int blocks, std::uint8_t sets = 1)
{
    RigOptions options;
    options.scenario.loggerBlocks = blocks;
    options.scenario.loggerSets = sets;
    options.idlePoll = false;
    return options;
}

bool TransferButtonsEnabled(const LoggerWidgets &l)
{
    return l.Button8->isEnabled() && l.Button10->isEnabled() && l.Button11->isEnabled();
}

bool TransferButtonsDisabled(const LoggerWidgets &l)
{
    return !l.Button8->isEnabled() && !l.Button10->isEnabled() && !l.Button11->isEnabled();
}

// What ProgressBar1 showed, step by step.
struct BarHistory {
    explicit BarHistory(QProgressBar &bar)
    {
        QObject::connect(&bar, &QProgressBar::valueChanged, &bar,
                         [this, &bar](int value) { steps.push_back({bar.maximum(), value}); });
    }
    std::vector<std::pair<int, int>> steps; // maximum, position
};

// Waits until the download has ended: the buttons are back.
bool DownloadEnded(WindowRig &rig)
{
    return SpinUntil([&rig] { return TransferButtonsEnabled(rig.w().logger) && rig.Idle(); }, 20s);
}

std::size_t Count(const Requests &requests, const std::string &name)
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
    WindowRig rig(options);
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::Datalogging));
    const LoggerWidgets &l = rig.w().logger;
    ExpectTexts({{l.Edit10, "7"}, {l.Edit11, "7"}, {l.Edit12, "480"}, {l.Edit13, "90"}, {l.Edit14, "3"},
                 {l.Edit15, "4"}});
    // Obj3 is byte 9; byte 8 is kept but not shown.
    EXPECT_EQ(l.Edit16->text(), QStringLiteral("6"));
    // Obj1 to Obj3 go back to the instrument as read: nothing to type there.
    for (const QLineEdit *shown : {l.Edit14, l.Edit15, l.Edit16})
        EXPECT_TRUE(shown->isReadOnly()) << shown->objectName().toStdString();
    EXPECT_FALSE(l.Edit13->isReadOnly());
}

TEST(DataloggingTab, ReadDownloadsWithProgressHoldsTheTabAndSavesTheFile)
{
    WindowRig rig(LoggerInstrument(24, 2));
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::Datalogging));
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    rig.dialogs.saveAnswer = directory.filePath(QStringLiteral("logger.csv"));
    const LoggerWidgets &l = rig.w().logger;
    BarHistory bar(*l.ProgressBar1);
    const std::size_t before = rig.log->size();

    // While it runs (seen at its second block): the buttons stay disabled and
    // the tab cannot be left.
    bool checkedWhileRunning = false;
    QObject::connect(l.ProgressBar1, &QProgressBar::valueChanged, l.ProgressBar1, [&](int value) {
        if (value != 2 || checkedWhileRunning)
            return;
        checkedWhileRunning = true;
        EXPECT_TRUE(TransferButtonsDisabled(l));
        rig.window().tabGuard().requestTab(rig.window().IndexOf(InstrumentTab::General));
        EXPECT_EQ(rig.window().TabAt(rig.w().PageControl1->currentIndex()), InstrumentTab::Datalogging);
    });
    l.Button8->click();
    EXPECT_TRUE(TransferButtonsDisabled(l));
    ASSERT_TRUE(DownloadEnded(rig));
    EXPECT_TRUE(checkedWhileRunning);

    // Maximum the block count, a step per block, back to 0 at the end.
    ASSERT_FALSE(bar.steps.empty());
    EXPECT_EQ(bar.steps.back(), (std::pair<int, int>{24, 0}));
    int shownPosition = 0;
    for (const auto &[maximum, position] : bar.steps) {
        if (position == 0)
            continue;
        EXPECT_EQ(maximum, 24);
        EXPECT_GT(position, shownPosition);
        shownPosition = position;
    }
    EXPECT_EQ(shownPosition, 24);

    const Requests heard = rig.heard(before);
    EXPECT_EQ(Count(heard, "R36"), 1u);
    EXPECT_EQ(Count(heard, "R37"), 24u);
    EXPECT_EQ(Count(heard, "R38"), 48u);

    ASSERT_EQ(rig.dialogs.saveRequests.size(), 1);
    const RecordingDialogs::SaveRequest &save = rig.dialogs.saveRequests.front();
    EXPECT_EQ(save.title, QStringLiteral("Save Event"));
    EXPECT_EQ(save.defaultSuffix, QStringLiteral("csv"));
    EXPECT_TRUE(save.proposedName.startsWith(QStringLiteral("Logger_00001234_"))) << save.proposedName.toStdString();
    EXPECT_TRUE(save.proposedName.endsWith(QStringLiteral(".csv")));
    EXPECT_FALSE(save.proposedName.contains(u'*'));

    const QByteArray bytes = ReadAll(rig.dialogs.saveAnswer);
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
    WindowRig rig(LoggerInstrument(0));
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::Datalogging));
    rig.w().logger.Button8->click();
    ASSERT_TRUE(DownloadEnded(rig));
    EXPECT_EQ(rig.dialogs.messages, QStringList{QStringLiteral("No Data")});
    EXPECT_TRUE(rig.dialogs.saveRequests.isEmpty());
    EXPECT_EQ(rig.w().logger.ProgressBar1->value(), 0);
}

TEST(DataloggingTab, ACancelledDialogOrAnUnwritableFileWritesNothing)
{
    WindowRig rig(LoggerInstrument(3));
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::Datalogging));
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());

    rig.dialogs.saveAnswer.clear();
    rig.w().logger.Button8->click();
    ASSERT_TRUE(DownloadEnded(rig));
    EXPECT_EQ(rig.dialogs.saveRequests.size(), 1);
    EXPECT_TRUE(rig.dialogs.errors.isEmpty());

    rig.dialogs.saveAnswer = directory.filePath(QStringLiteral("no/such/folder/logger.csv"));
    rig.w().logger.Button8->click();
    ASSERT_TRUE(DownloadEnded(rig));
    ASSERT_EQ(rig.dialogs.errors.size(), 1);
    EXPECT_EQ(rig.dialogs.errors.front(),
              QStringLiteral("Cannot create file %1").arg(QDir::toNativeSeparators(rig.dialogs.saveAnswer)));
    EXPECT_TRUE(Entries(directory.path()).isEmpty());
}

TEST(DataloggingTab, ALostInstrumentLeavesTheExistingFileAndSaysWhy)
{
    RigOptions options = LoggerInstrument(20, 2);
    options.scenario.faults.lineDropAfter = 12;
    WindowRig rig(options);
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::Datalogging)); // reads 35 and 36: two of the twelve
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    const QString path = directory.filePath(QStringLiteral("logger.csv"));
    {
        QFile old(path);
        ASSERT_TRUE(old.open(QIODevice::WriteOnly));
        old.write("yesterday's download\r\n");
    }
    rig.dialogs.saveAnswer = path;

    rig.w().logger.Button8->click();
    ASSERT_TRUE(DownloadEnded(rig));
    EXPECT_TRUE(rig.dialogs.saveRequests.isEmpty());
    EXPECT_EQ(ReadAll(path), QByteArray("yesterday's download\r\n"));
    EXPECT_EQ(Entries(directory.path()), QStringList{QStringLiteral("logger.csv")});
    ASSERT_EQ(rig.dialogs.errors.size(), 1);
    // 36, then blocks 1 to 3 with two sets each answered; block 4's header is lost.
    EXPECT_EQ(rig.dialogs.errors.front(), QStringLiteral("Data logger download stopped at block 4 of 20: the "
                                                         "instrument did not answer. Nothing was saved"));
    EXPECT_EQ(rig.w().logger.ProgressBar1->value(), 0);
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

TEST(DataloggingTab, ClosingThePortEndsTheDownloadWithoutAFileOrAQuestion)
{
    RigOptions options = SlowLoggerInstrument();
    WindowRig rig(options);
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::Datalogging));
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());
    rig.dialogs.saveAnswer = directory.filePath(QStringLiteral("logger.csv"));
    const LoggerWidgets &l = rig.w().logger;
    l.Button8->click();
    ASSERT_TRUE(SpinUntil([&l] { return l.ProgressBar1->value() >= 2; }, 10s));
    rig.w().control.Button_ClosePort->click();
    ASSERT_TRUE(SpinUntil([&l] { return TransferButtonsEnabled(l); }, 10s));
    ASSERT_TRUE(rig.Idle());
    EXPECT_TRUE(rig.dialogs.saveRequests.isEmpty());
    EXPECT_TRUE(rig.dialogs.errors.isEmpty()) << rig.dialogs.errors.join(u'\n').toStdString();
    EXPECT_TRUE(Entries(directory.path()).isEmpty());
    EXPECT_EQ(l.ProgressBar1->value(), 0);
}

TEST(DataloggingTab, ReadWithThePortClosedSaysOnlyWhatTheLinkSays)
{
    WindowRig rig(LoggerInstrument(3));
    rig.w().logger.Button8->click();
    ASSERT_TRUE(DownloadEnded(rig));
    EXPECT_EQ(rig.dialogs.messages, QStringList{QStringLiteral("Comport nicht ge\u00f6ffnet!")});
    EXPECT_TRUE(rig.dialogs.errors.isEmpty()) << rig.dialogs.errors.join(u'\n').toStdString();
    EXPECT_TRUE(rig.dialogs.saveRequests.isEmpty());
}

TEST(DataloggingTab, ClosingTheWindowDuringADownloadEndsIt)
{
    auto rig = std::make_unique<WindowRig>(SlowLoggerInstrument());
    ASSERT_TRUE(rig->ConnectOn(InstrumentTab::Datalogging));
    const LoggerWidgets &l = rig->w().logger;
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
    WindowRig rig(LoggerInstrument(5));
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::Datalogging));
    const LoggerWidgets &l = rig.w().logger;
    ASSERT_EQ(l.Edit13->text(), QStringLiteral("60"));

    for (const QString &typed : {QStringLiteral("29"), QStringLiteral("301"), QStringLiteral("65566")}) {
        rig.dialogs.messages.clear();
        const std::size_t before = rig.log->size();
        l.Edit13->setText(typed);
        l.Button11->click();
        ASSERT_TRUE(rig.Idle());
        EXPECT_EQ(rig.dialogs.messages, QStringList{QStringLiteral("Error! from 30 to 300 allowed")});
        EXPECT_EQ(l.Edit13->text(), QStringLiteral("60")) << typed.toStdString();
        EXPECT_TRUE(rig.heard(before).empty()) << typed.toStdString();
    }

    const std::size_t beforeText = rig.log->size();
    l.Edit13->setText(QStringLiteral("1 min"));
    l.Button11->click();
    ASSERT_TRUE(rig.Idle());
    EXPECT_EQ(rig.dialogs.errors, QStringList{QStringLiteral("'1 min' is not a valid integer value")});
    EXPECT_EQ(l.Edit13->text(), QStringLiteral("1 min"));
    EXPECT_TRUE(rig.heard(beforeText).empty());

    const std::size_t before = rig.log->size();
    l.Edit13->setText(QStringLiteral("300"));
    l.Button11->click();
    ASSERT_TRUE(rig.Idle());
    EXPECT_EQ(rig.heard(before), (Requests{"R36", "R2", "W36", "R36"}));
    EXPECT_EQ(l.Edit13->text(), QStringLiteral("300"));
    EXPECT_EQ(rig.dialogs.errors.size(), 1);
}

TEST(DataloggingTab, ClearErasesAndShowsTheNewCount)
{
    WindowRig rig(LoggerInstrument(9));
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::Datalogging));
    const LoggerWidgets &l = rig.w().logger;
    ASSERT_EQ(l.Edit11->text(), QStringLiteral("9"));
    const std::size_t before = rig.log->size();
    rig.dialogs.questionAnswer = true;
    l.Button10->click();
    ASSERT_TRUE(rig.Idle());
    EXPECT_EQ(rig.heard(before), (Requests{"R2", "W127", "R36"}));
    EXPECT_EQ(l.Edit11->text(), QStringLiteral("0"));
    EXPECT_EQ(l.Edit10->text(), QStringLiteral("0"));
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
    const QString buildDirectory = QFileInfo(r310test::BuildProgram(QStringLiteral("r310ctl"))).absolutePath();
    const std::unique_ptr<GasTable> gasTable = GasTable::Load({buildDirectory});
    ASSERT_TRUE(gasTable) << "KALTEX32 of this build is missing";
    QTemporaryDir directory;
    ASSERT_TRUE(directory.isValid());

    WindowRig rig(SerialPortInGerman(instrument.device(), *gasTable));
    rig.dialogs.saveAnswer = directory.filePath(QStringLiteral("window.csv"));
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::Datalogging));
    rig.w().logger.Button8->click();
    ASSERT_TRUE(DownloadEnded(rig));
    ASSERT_EQ(rig.dialogs.saveRequests.size(), 1) << rig.dialogs.errors.join(u'\n').toStdString();
    // The line is r310ctl's now.
    rig.window().ClosePort();
    ASSERT_TRUE(SpinUntil([&rig] { return !rig.window().connection()->portOpen(); }, 10s));

    const QString ctlFile = directory.filePath(QStringLiteral("r310ctl.csv"));
    const CtlRun ctl = RunR310ctlInGerman(
        {QStringLiteral("--port"), instrument.device(), QStringLiteral("datalog"), QStringLiteral("--out"), ctlFile},
        directory.path());
    ASSERT_TRUE(ctl.finished);
    ASSERT_EQ(ctl.exitCode, 0) << ctl.errors;

    const QByteArray fromWindow = ReadAll(rig.dialogs.saveAnswer);
    EXPECT_EQ(fromWindow, ReadAll(ctlFile));
    // What the comparison covered: sections, alarms, German decimals, gas texts.
    EXPECT_EQ(fromWindow.count(" ; ; ; ;\r\n"), 2);
    EXPECT_TRUE(fromWindow.contains(";ALARM;\r\n"));
    EXPECT_TRUE(fromWindow.contains(";ppm CO; ;\r\n"));
    const QRegularExpression germanSample(QStringLiteral("\\.\\d{4} \\d\\d:\\d\\d:\\d\\d;-?\\d+,\\d\\d;"));
    EXPECT_TRUE(QString::fromLatin1(fromWindow).contains(germanSample));
}

TEST(DataloggingTab, ShowOpensTheDownloadInTheLogViewer)
{
    WindowRig rig(LoggerInstrument(24, 1));
    ASSERT_TRUE(rig.Connect());
    // The Range tab's limits become the chart's alarm levels.
    ASSERT_TRUE(rig.ShowTab(InstrumentTab::Range));
    ASSERT_TRUE(rig.ShowTab(InstrumentTab::Datalogging));
    auto *show = rig.window().findChild<QPushButton *>(QStringLiteral("ButtonShowLogger"));
    ASSERT_NE(show, nullptr);
    EXPECT_FALSE(show->isEnabled());
    rig.dialogs.saveAnswer.clear(); // the viewer shows it also when it is not saved
    rig.w().logger.Button8->click();
    ASSERT_TRUE(DownloadEnded(rig));
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
    EXPECT_EQ(exposure->item(0, 5)->text(), QStringLiteral("%1").arg(rig.w().logger.Edit13->text()));
    QStringList names;
    for (const QAbstractSeries *series : viewer.chart().series())
        names.append(series->name());
    EXPECT_TRUE(names.filter(QRegularExpression(QStringLiteral("^A1 "))).size() == 1) << names.join(u'|').toStdString();
    EXPECT_TRUE(names.filter(QRegularExpression(QStringLiteral("^TWA "))).size() == 1) << names.join(u'|').toStdString();
}
