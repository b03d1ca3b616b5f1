// The window against a hostile instrument (values at the edges of their fields,
// 40000 logger blocks, answers short or filled up): every field shows printable
// text that fits it, reported values are not sent back unasked, and a download
// can be followed and ended with "&Close Comport" at once.
#include "UiRig.h"

#include <QElapsedTimer>
#include <QStatusBar>
#include <QStyle>

#include <algorithm>

namespace {

using namespace r310;
using namespace r310::ui;
using namespace uitest;

const QLocale kGerman(QLocale::German, QLocale::Germany);

// A shipped scenario with more lines of its own, in German settings, no idle poll.
RigOptions Shipped(const char *name, const std::string &more = {})
{
    RigOptions options;
    std::string error;
    EXPECT_TRUE(sim::LoadScenarioFile(std::string(SIM_SCENARIO_DIR) + "/" + name, options.scenario, &error)) << error;
    EXPECT_TRUE(sim::ParseScenarioText(more, options.scenario, &error)) << error;
    options.scenario.pacing = false;
    options.locale = kGerman;
    options.idlePoll = false;
    return options;
}

const InstrumentTab kEveryTab[] = {InstrumentTab::Range,           InstrumentTab::Signals,
                                   InstrumentTab::Hardware,        InstrumentTab::Calibration,
                                   InstrumentTab::SpecialFunction, InstrumentTab::EventProperties,
                                   InstrumentTab::Datalogging,     InstrumentTab::General};

bool HasWrite(const std::vector<std::string> &heard)
{
    return std::any_of(heard.begin(), heard.end(), [](const std::string &name) { return name[0] == 'W'; });
}

// Every field of the window but the customer ID: printable text that fits.
void ExpectCleanFields(WindowRig &rig)
{
    for (const QLineEdit *edit : rig.window().findChildren<QLineEdit *>()) {
        if (edit == rig.w().general.Edit_CostId)
            continue;
        const QString text = edit->text();
        // The whole text stands in the field, none of it scrolled out of sight.
        const int frame = edit->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, edit);
        EXPECT_LE(edit->fontMetrics().horizontalAdvance(text) + 2 * frame + 4, edit->width())
            << edit->objectName().toStdString() << ": " << text.toStdString();
        for (const QChar c : text)
            EXPECT_TRUE(c.isPrint() && c != QChar::ReplacementCharacter)
                << edit->objectName().toStdString() << ": " << text.toStdString();
    }
    for (const QLabel *panel : rig.w().status.panels) {
        for (const QChar c : panel->text())
            EXPECT_TRUE(c.isPrint()) << panel->text().toStdString();
    }
}

// Starts a download, follows it to its 20th step, then "&Close Comport" ends it
// within 5 s, with no file and no error: closing was the user's own doing.
void ExpectFollowedAndEndedByClose(WindowRig &rig, QPushButton *start, QProgressBar *bar, int maximum)
{
    start->click();
    ASSERT_TRUE(SpinUntil([bar] { return bar->value() >= 20; }, 20s));
    EXPECT_EQ(bar->maximum(), maximum);
    EXPECT_FALSE(start->isEnabled());
    QElapsedTimer took;
    took.start();
    rig.w().control.Button_ClosePort->click();
    ASSERT_TRUE(SpinUntil([start] { return start->isEnabled(); }, 10s));
    EXPECT_LT(took.elapsed(), 5000);
    EXPECT_TRUE(rig.dialogs.saveRequests.isEmpty());
    EXPECT_TRUE(rig.dialogs.errors.isEmpty());
}

} // namespace

TEST(HostileWindow, ValuesAtTheEdgesShowAsSensibleTextAndAreNotSentBackUnasked)
{
    WindowRig rig(Shipped("hostile-values.txt"));
    ASSERT_TRUE(rig.Connect());
    const std::size_t connected = rig.heard().size();
    for (const InstrumentTab tab : kEveryTab)
        ASSERT_TRUE(rig.ShowTab(tab));
    ExpectCleanFields(rig);
    EXPECT_FALSE(HasWrite(rig.heard(connected))) << "visiting every tab writes nothing";

    const MainWidgets &w = rig.w();
    ExpectTexts({{w.general.Edit_DevSn, "-2147483648"}, {w.general.Edit4, "31.12.1979 23:59:59"},
                 {w.range.alarms[0].edit, "0,000000000"}, {w.range.Edit_Cal, "0,000000000"}});
    for (QLineEdit *counter : {w.events.Edit1, w.events.Edit2, w.events.Edit8, w.events.Edit9, w.logger.Edit10,
                               w.logger.Edit11, w.logger.Edit12, w.logger.Edit13})
        EXPECT_EQ(counter->text(), QStringLiteral("65535")) << counter->objectName().toStdString();

    // The customer ID is all ten characters as the instrument holds them,
    // the battery byte behind them not among them, and not marked changed.
    EXPECT_EQ(w.general.Edit_CostId->text(), QString::fromLatin1("\x01" "AB\x7f\xff\x0a" "C#DE", 10));
    EXPECT_FALSE(w.general.ButtonCostID->isEnabled());

    // Values the instrument reported beyond what it takes are refused, not sent back.
    const std::size_t before = rig.heard().size();
    ASSERT_TRUE(rig.ShowTab(InstrumentTab::EventProperties));
    w.events.Button2->click(); // Clear, with the reported maximum of 65535 events
    ASSERT_TRUE(rig.Idle());
    ASSERT_FALSE(rig.dialogs.errors.isEmpty());
    EXPECT_EQ(rig.dialogs.errors.last(), QStringLiteral("Max Events: 65535 is outside the allowed range 1 to 513"));
    ASSERT_TRUE(rig.ShowTab(InstrumentTab::Datalogging));
    w.logger.Button11->click(); // Set Paramet, with the reported interval of 65535 s
    ASSERT_TRUE(rig.Idle());
    ASSERT_FALSE(rig.dialogs.messages.isEmpty());
    EXPECT_EQ(rig.dialogs.messages.last(), QStringLiteral("Error! from 30 to 300 allowed"));
    EXPECT_EQ(w.logger.Edit13->text(), QStringLiteral("65535"));
    ASSERT_TRUE(rig.ShowTab(InstrumentTab::General));
    EXPECT_FALSE(HasWrite(rig.heard(before)));
}

TEST(HostileWindow, TheLargestExponentShowsInScientificNotation)
{
    WindowRig rig(Shipped("hostile-values.txt", "exponent = 127\nrange_end = 30000\nvalue = 30000"));
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::Range));
    ExpectCleanFields(rig);
    const RangeWidgets &r = rig.w().range;
    ExpectTexts({{r.alarms[0].edit, "-3,276800E+131"}, {r.alarms[1].edit, "3,276700E+131"},
                 {r.Edit_MBE, "3,000000E+131"}});
}

TEST(HostileWindow, AnEventDownloadOf65535IsFollowedAndEndedByCloseComport)
{
    WindowRig rig(Shipped("hostile-values.txt"));
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::EventProperties));
    auto *progress = rig.window().findChild<QProgressBar *>(QStringLiteral("EventProgress"));
    ASSERT_NE(progress, nullptr);
    ExpectFollowedAndEndedByClose(rig, rig.w().events.Button1, progress, 65535);
    EXPECT_TRUE(progress->format().endsWith(QStringLiteral(" of 65535"))) << progress->format().toStdString();
}

TEST(HostileWindow, LoggerDownloadsOfBlocksItCannotReadOrOfFortyThousandBlocksEndCleanly)
{
    {
        // 65535 blocks reported, 3 stored: where and why it stopped, nothing to save.
        WindowRig rig(Shipped("hostile-values.txt"));
        ASSERT_TRUE(rig.ConnectOn(InstrumentTab::Datalogging));
        rig.w().logger.Button8->click();
        ASSERT_TRUE(SpinUntil([&rig] { return rig.w().logger.Button8->isEnabled(); }, 20s));
        ASSERT_EQ(rig.dialogs.errors.size(), 1);
        EXPECT_EQ(rig.dialogs.errors.first(), QStringLiteral("Data logger download stopped at block 4 of 65535: the "
                                                             "instrument answered with an error report. Nothing was "
                                                             "saved"));
        EXPECT_TRUE(rig.dialogs.saveRequests.isEmpty());
        EXPECT_EQ(rig.w().logger.ProgressBar1->value(), 0);
    }
    {
        WindowRig rig(Shipped("hostile-logs.txt", "events = 10"));
        ASSERT_TRUE(rig.ConnectOn(InstrumentTab::Datalogging));
        ExpectFollowedAndEndedByClose(rig, rig.w().logger.Button8, rig.w().logger.ProgressBar1, 40000);
        EXPECT_EQ(rig.w().logger.ProgressBar1->value(), 0);
    }
}

TEST(HostileWindow, ShortAnswersShowNothingOfThemAndLongOnesShowTheObject)
{
    {
        WindowRig rig(Shipped("hostile-frames.txt", "short_answer = always\nlong_answer = off"));
        ASSERT_TRUE(rig.Connect());
        for (const InstrumentTab tab : {InstrumentTab::Range, InstrumentTab::Signals, InstrumentTab::Hardware})
            EXPECT_TRUE(rig.ShowTab(tab));
        ExpectCleanFields(rig);
        EXPECT_TRUE(rig.w().general.Edit_DevSn->text().isEmpty());
        EXPECT_TRUE(rig.w().range.alarms[0].edit->text().isEmpty());
        EXPECT_TRUE(rig.dialogs.errors.isEmpty());
        EXPECT_FALSE(HasWrite(rig.heard()));
    }
    WindowRig plain(Shipped("hostile-frames.txt", "short_answer = off\nlong_answer = off\nvalue_swing = 0"));
    WindowRig filled(Shipped("hostile-frames.txt", "short_answer = off\nvalue_swing = 0"));
    for (WindowRig *rig : {&plain, &filled}) {
        ASSERT_TRUE(rig->Connect());
        for (const InstrumentTab tab : kEveryTab)
            ASSERT_TRUE(rig->ShowTab(tab));
        ExpectCleanFields(*rig);
    }
    // Field by field, the clocks aside.
    const QList<QLineEdit *> filledFields = filled.window().findChildren<QLineEdit *>();
    const QList<QLineEdit *> plainFields = plain.window().findChildren<QLineEdit *>();
    ASSERT_EQ(filledFields.size(), plainFields.size());
    for (qsizetype i = 0; i < filledFields.size(); ++i) {
        if (filledFields[i] == filled.w().general.Edit3 || filledFields[i] == filled.w().general.Edit4)
            continue;
        EXPECT_EQ(filledFields[i]->text(), plainFields[i]->text()) << filledFields[i]->objectName().toStdString();
    }
}
