// The settings commands in the window, offscreen, against the simulated
// instrument: the set buttons, the writes of leaving the Range, Signals and
// Hardware tabs before the next tab is read (mouse, accelerator, Ctrl+Tab),
// the interval field checks, the refusals with nothing on the wire, and
// "Set &Time". Every request is recorded with its payload as the
// instrument heard it, together with the instrument's answers.
#include "UiRig.h"

#include <RadioGroup.h>

#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabBar>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

#include <optional>

namespace {

using namespace r310;
using namespace r310::ui;
using namespace uitest;
using Bytes = std::vector<std::uint8_t>;
using Names = std::vector<std::string>;

using r310test::LineFrame;

// The requests without the idle poll's clock and value reads.
Names CommandRequests(const std::vector<LineFrame> &frames)
{
    Names names;
    for (const std::string &name : RequestNames(frames)) {
        if (name != "R3" && name != "R7")
            names.push_back(name);
    }
    return names;
}

struct Bench {
    explicit Bench(sim::Scenario scenario = FastScenario(221), bool idlePoll = false) : rig(Options(scenario, idlePoll))
    {
        rig.window().activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&rig.window()));
    }

    static RigOptions Options(const sim::Scenario &scenario, bool idlePoll)
    {
        RigOptions options;
        options.scenario = scenario;
        options.idlePoll = idlePoll;
        options.recordAnswers = true;
        return options;
    }

    const MainWidgets &w() const { return rig.w(); }
    void ClickTab(InstrumentTab tab)
    {
        QTabBar &bar = *w().PageControl1->tabBar();
        QTest::mouseClick(&bar, Qt::LeftButton, {}, bar.tabRect(rig.window().IndexOf(tab)).center());
        EXPECT_TRUE(rig.Idle());
    }
    void Press(Qt::Key key, Qt::KeyboardModifiers modifiers)
    {
        // Through the window system, so accelerators and shortcuts apply; a
        // button pressed by its accelerator clicks 100 ms later.
        QTest::keyClick(rig.window().windowHandle(), key, modifiers);
        SpinFor(150ms);
        EXPECT_TRUE(rig.Idle());
    }
    void Click(QAbstractButton *button)
    {
        QTest::mouseClick(button, Qt::LeftButton);
        EXPECT_TRUE(rig.Idle());
    }
    // On the indicator: a wide button takes clicks on its indicator and text only.
    static void Tick(QAbstractButton *button)
    {
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
    }
    void Select(RadioGroup *group, int item) { Tick(group->item(item)); }
    bool Showing(InstrumentTab tab) { return w().PageControl1->currentIndex() == rig.window().IndexOf(tab); }

    WindowRig rig;
    std::shared_ptr<r310test::Line> line = rig.line;
};

TEST(RangeTab, TypingIntoA1ThenClickingSignalsWritesAndReadsBackBeforeObject31IsRead)
{
    Bench bench(ExponentMinusTwoScenario());
    const MainWidgets &w = bench.w();
    ASSERT_TRUE(bench.rig.ConnectOn(InstrumentTab::Range));
    ASSERT_EQ(w.range.alarms[0].edit->text(), QStringLiteral("10.00"));
    ASSERT_FALSE(w.range.ButtonSetGW->isEnabled());

    Type(w.range.alarms[0].edit, QStringLiteral("20.5"));
    // STEL is latching already; "allowed honk off" is added.
    QTest::mouseClick(w.range.alarms[3].hornOff, Qt::LeftButton);
    ASSERT_TRUE(w.range.ButtonSetGW->isEnabled());
    const std::size_t before = bench.line->size();
    bench.ClickTab(InstrumentTab::Signals);

    const std::vector<LineFrame> line = bench.line->since(before);
    EXPECT_EQ(FrameNames(line), (Names{"R2", "A2", "W4", "A4", "R4", "A4", "R31", "A31"}));
    ASSERT_EQ(line.size(), 8u);
    EXPECT_EQ(line[2].flags, 0x60);
    ASSERT_EQ(line[2].payload.size(), 29u);
    EXPECT_EQ(line[2].payload[8], 0x02);
    EXPECT_EQ(line[2].payload[9], 0x08);
    EXPECT_EQ(line[2].payload[21], 0x06);
    for (int i : {0, 1, 2, 3, 4, 5, 6, 7, 25, 26, 27, 28})
        EXPECT_EQ(line[2].payload[static_cast<std::size_t>(i)], 0) << "byte " << i;
    EXPECT_EQ(line[5].payload[8], 0x02);
    EXPECT_EQ(line[5].payload[9], 0x08);

    EXPECT_TRUE(bench.Showing(InstrumentTab::Signals));
    EXPECT_EQ(w.range.alarms[0].edit->text(), QStringLiteral("20.50"));
    EXPECT_FALSE(w.range.ButtonSetGW->isEnabled());
    EXPECT_TRUE(bench.rig.dialogs.errors.isEmpty());
    EXPECT_TRUE(bench.rig.dialogs.messages.isEmpty());
}

TEST(RangeTab, AcceleratorAndCtrlTabWriteBeforeTheNextTabIsRead)
{
    Bench bench(ExponentMinusTwoScenario());
    const MainWidgets &w = bench.w();
    ASSERT_TRUE(bench.rig.ConnectOn(InstrumentTab::Range));

    Type(w.range.Edit_Cal, QStringLiteral("50.00")); // 5000
    std::size_t before = bench.line->size();
    bench.Press(Qt::Key_H, Qt::AltModifier);
    EXPECT_EQ(CommandRequests(bench.line->since(before)), (Names{"R2", "W4", "R4", "R33"}));
    std::optional<LineFrame> write = First(bench.line->since(before), "W4");
    ASSERT_TRUE(write);
    EXPECT_EQ(write->payload[23], 0x88);
    EXPECT_EQ(write->payload[24], 0x13);
    EXPECT_TRUE(bench.Showing(InstrumentTab::Hardware));

    bench.Press(Qt::Key_R, Qt::AltModifier);
    ASSERT_TRUE(bench.Showing(InstrumentTab::Range));
    Type(w.range.alarms[1].edit, QStringLiteral("1.25"));
    before = bench.line->size();
    bench.Press(Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(CommandRequests(bench.line->since(before)), (Names{"R2", "W4", "R4", "R31"}));
    write = First(bench.line->since(before), "W4");
    ASSERT_TRUE(write);
    EXPECT_EQ(write->payload[10], 0x7D); // 125
    EXPECT_EQ(write->payload[11], 0x00);
    EXPECT_TRUE(bench.Showing(InstrumentTab::Signals));
    EXPECT_TRUE(bench.rig.dialogs.errors.isEmpty());
}

TEST(RangeTab, InputThatDoesNotConvertOrFitIsRefusedWithNothingOnTheWire)
{
    Bench bench(ExponentMinusTwoScenario());
    const MainWidgets &w = bench.w();
    RecordingDialogs &dialogs = bench.rig.dialogs;
    ASSERT_TRUE(bench.rig.ConnectOn(InstrumentTab::Range));

    const std::size_t before = bench.line->size();
    Type(w.range.alarms[0].edit, QStringLiteral("abc"));
    bench.Click(w.range.ButtonSetGW);
    Type(w.range.alarms[0].edit, QStringLiteral("400"));
    bench.Click(w.range.ButtonSetGW);
    Type(w.range.alarms[0].edit, QStringLiteral("1,000"));
    bench.Click(w.range.ButtonSetGW);
    Type(w.range.alarms[0].edit, QStringLiteral("20"));
    Type(w.range.Edit_Cal, QString());
    bench.Click(w.range.ButtonSetGW);
    EXPECT_EQ(dialogs.errors, (QStringList{QStringLiteral("'abc' is not a valid floating point value"),
                                            QStringLiteral("A1: 400 is outside the allowed range -327.68 to 327.67"),
                                            QStringLiteral("'1,000' is not a valid floating point value"),
                                            QStringLiteral("'' is not a valid floating point value")}));
    EXPECT_TRUE(CommandRequests(bench.line->since(before)).empty());
    EXPECT_TRUE(w.range.ButtonSetGW->isEnabled());

    // Leaving with a field that does not convert: the error is shown, the
    // change goes ahead, nothing is written.
    dialogs.errors.clear();
    bench.ClickTab(InstrumentTab::Signals);
    EXPECT_EQ(dialogs.errors, QStringList{QStringLiteral("'' is not a valid floating point value")});
    EXPECT_EQ(CommandRequests(bench.line->since(before)), (Names{"R31"}));
    EXPECT_TRUE(bench.Showing(InstrumentTab::Signals));
    EXPECT_TRUE(w.range.ButtonSetGW->isEnabled());
}

TEST(SignalsTab, SetSignalsSendsTheChosenItemsAndTheInstrumentsOwnDayCounts)
{
    Bench bench;
    const MainWidgets &w = bench.w();
    const SignalsWidgets &s = w.signalTab;
    ASSERT_TRUE(bench.rig.Connect());
    std::size_t before = bench.line->size();
    ASSERT_TRUE(bench.rig.ShowTab(InstrumentTab::Signals));
    const std::optional<LineFrame> read = First(bench.line->since(before), "A31");
    ASSERT_TRUE(read);
    const Bytes readPayload = read->payload;

    bench.Select(s.RadioGroup_Bsig, 2); // Louder
    bench.Select(s.RadioGroup_VSig, 3); // Long
    bench.Select(s.RadioGroup_KSig, 0); // Off
    bench.Select(s.RadioGroup_Wup, 3);  // Optical
    bench.Select(s.RadioGroup_DateFmt, 2); // DD/MM/YY
    bench.Select(s.RadioGroup_Wakeup, 1);  // Quick or Alarm
    ASSERT_FALSE(s.CheckBox12h->isChecked());
    Bench::Tick(s.CheckBox12h);
    ASSERT_TRUE(s.CheckBoxShowTime->isChecked());
    Bench::Tick(s.CheckBoxShowTime);
    ASSERT_FALSE(s.CheckBoxSek->isChecked());
    Bench::Tick(s.CheckBoxSek);
    // Whatever the date fields show, the day counts of the last read go back.
    s.Edit_NextBumpDate->setText(QStringLiteral("01.01.25"));
    ASSERT_TRUE(s.ButtonSetSig->isEnabled());

    before = bench.line->size();
    bench.Click(s.ButtonSetSig);
    const std::vector<LineFrame> line = bench.line->since(before);
    EXPECT_EQ(CommandRequests(line), (Names{"R2", "W31", "R31"}));
    std::optional<LineFrame> write = First(line, "W31");
    ASSERT_TRUE(write);
    ASSERT_EQ(write->payload.size(), 16u);
    EXPECT_EQ(write->payload[0], 0xCE);
    EXPECT_EQ(write->payload[2], 0x59);
    for (std::size_t i : {3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u})
        EXPECT_EQ(write->payload[i], readPayload[i]) << "byte " << i;
    for (std::size_t i : {12u, 13u, 14u, 15u})
        EXPECT_EQ(write->payload[i], 0) << "byte " << i;
    EXPECT_EQ(s.RadioGroup_Bsig->itemIndex(), 2);
    EXPECT_NE(s.Edit_NextBumpDate->text(), QStringLiteral("01.01.25"));
    EXPECT_FALSE(s.ButtonSetSig->isEnabled());
    EXPECT_TRUE(bench.rig.dialogs.errors.isEmpty());
}

TEST(SignalsTab, IntervalFieldsAreCheckedWhenTheFocusLeavesThem)
{
    Bench bench;
    const SignalsWidgets &s = bench.w().signalTab;
    RecordingDialogs &dialogs = bench.rig.dialogs;
    ASSERT_TRUE(bench.rig.ConnectOn(InstrumentTab::Signals));
    const QString instrumentBump = s.Edit_DeltaBumpDay->text();
    ASSERT_EQ(instrumentBump, QStringLiteral("30"));

    // Empty or no number: the default, without a message, and the tab counts as changed.
    std::size_t before = bench.line->size();
    Type(s.Edit_DeltaBumpDay, QString());
    QTest::keyClick(s.Edit_DeltaBumpDay, Qt::Key_Tab);
    EXPECT_EQ(s.Edit_DeltaBumpDay->text(), QStringLiteral("14"));
    Type(s.Edit_DeltaCalDay, QStringLiteral("abc"));
    QTest::keyClick(s.Edit_DeltaCalDay, Qt::Key_Tab);
    EXPECT_EQ(s.Edit_DeltaCalDay->text(), QStringLiteral("60"));
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_TRUE(s.ButtonSetSig->isEnabled());
    EXPECT_TRUE(CommandRequests(bench.line->since(before)).empty());

    // Outside the range: the message, then the instrument's values again.
    Type(s.Edit_DeltaBumpDay, QStringLiteral("1"));
    QTest::keyClick(s.Edit_DeltaBumpDay, Qt::Key_Tab);
    ASSERT_TRUE(bench.rig.Idle());
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("Error! from 2 to 365 allowed!")});
    EXPECT_EQ(CommandRequests(bench.line->since(before)), (Names{"R31"}));
    EXPECT_EQ(s.Edit_DeltaBumpDay->text(), instrumentBump);
    EXPECT_EQ(s.Edit_DeltaCalDay->text(), QStringLiteral("180"));
    EXPECT_FALSE(s.ButtonSetSig->isEnabled());

    dialogs.messages.clear();
    Type(s.Edit_DeltaCalDay, QStringLiteral("4"));
    QTest::keyClick(s.Edit_DeltaCalDay, Qt::Key_Tab);
    ASSERT_TRUE(bench.rig.Idle());
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("Error! from 5 to 730 allowed!")});
    for (const char *edge : {"5", "730"}) {
        dialogs.messages.clear();
        before = bench.line->size();
        Type(s.Edit_DeltaCalDay, QString::fromLatin1(edge));
        QTest::keyClick(s.Edit_DeltaCalDay, Qt::Key_Tab);
        ASSERT_TRUE(bench.rig.Idle());
        EXPECT_TRUE(dialogs.messages.isEmpty()) << edge;
        EXPECT_TRUE(CommandRequests(bench.line->since(before)).empty()) << edge;
    }
    Type(s.Edit_DeltaBumpDay, QStringLiteral("366"));
    QTest::keyClick(s.Edit_DeltaBumpDay, Qt::Key_Tab);
    ASSERT_TRUE(bench.rig.Idle());
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("Error! from 2 to 365 allowed!")});
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST(SignalsTab, AnIntervalStillInItsFieldIsCheckedByTheCommandToo)
{
    Bench bench;
    const SignalsWidgets &s = bench.w().signalTab;
    RecordingDialogs &dialogs = bench.rig.dialogs;
    ASSERT_TRUE(bench.rig.ConnectOn(InstrumentTab::Signals));

    // The accelerator clicks "Set S&ignals" while the focus stays in the field.
    Type(s.Edit_DeltaBumpDay, QStringLiteral("400"));
    std::size_t before = bench.line->size();
    bench.Press(Qt::Key_I, Qt::AltModifier);
    EXPECT_TRUE(s.Edit_DeltaBumpDay->hasFocus());
    EXPECT_EQ(dialogs.errors, QStringList{QStringLiteral("Delta Bump Days: 400 is outside the allowed range 2 to 365")});
    EXPECT_TRUE(CommandRequests(bench.line->since(before)).empty());

    // Leaving the tab from the field: its check runs once, before the change,
    // the changes are discarded and nothing is written.
    dialogs.errors.clear();
    before = bench.line->size();
    bench.Press(Qt::Key_R, Qt::AltModifier);
    EXPECT_TRUE(bench.Showing(InstrumentTab::Range));
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("Error! from 2 to 365 allowed!")});
    EXPECT_TRUE(dialogs.errors.isEmpty());
    EXPECT_EQ(CommandRequests(bench.line->since(before)), (Names{"R31", "R4"}));
    EXPECT_FALSE(s.ButtonSetSig->isEnabled());
    EXPECT_EQ(s.Edit_DeltaBumpDay->text(), QStringLiteral("30"));

    // An invalid interval becomes its default on leaving, and is written.
    ASSERT_TRUE(bench.rig.ShowTab(InstrumentTab::Signals));
    Type(s.Edit_DeltaCalDay, QStringLiteral("x"));
    before = bench.line->size();
    bench.Press(Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(CommandRequests(bench.line->since(before)), (Names{"R2", "W31", "R31", "R33"}));
    std::optional<LineFrame> write = First(bench.line->since(before), "W31");
    ASSERT_TRUE(write);
    EXPECT_EQ(write->payload[9], 60);
    EXPECT_EQ(write->payload[10], 0);
}

TEST(SignalsTab, NothingReadMeansNoSelectionAndNoWrite)
{
    sim::Scenario scenario = FastScenario(221);
    scenario.faults.noAnswer.probability = 1.0;
    scenario.faults.objects = {kObjectSignals};
    Bench bench(scenario);
    const SignalsWidgets &s = bench.w().signalTab;
    ASSERT_TRUE(bench.rig.Connect());
    // The signals never answer: the groups have no selection.
    ASSERT_TRUE(bench.rig.ShowTab(InstrumentTab::Signals));
    ASSERT_EQ(s.RadioGroup_Bsig->itemIndex(), -1);
    Type(s.Edit_BeepTime, QStringLiteral("30"));
    const std::size_t before = bench.line->size();
    bench.Click(s.ButtonSetSig);
    EXPECT_EQ(bench.rig.dialogs.errors,
              QStringList{QStringLiteral(
                  "Confidence Bleep: no item selected (the signals have not been read from the instrument)")});
    EXPECT_TRUE(CommandRequests(bench.line->since(before)).empty());
}

sim::Scenario OwnSensorValues()
{
    sim::Scenario scenario = FastScenario(221);
    scenario.hwZeroPoint = 1111;
    scenario.hwGain = 432;
    scenario.hwReference = 17777;
    scenario.hwOptions = 0x00;
    return scenario;
}

TEST(HardwareTab, SetSendsTheInstrumentsOwnValuesWithTheTickedOptions)
{
    Bench bench(OwnSensorValues());
    const HardwareWidgets &h = bench.w().hardware;
    ASSERT_TRUE(bench.rig.ConnectOn(InstrumentTab::Hardware));
    EXPECT_TRUE(h.Edit_hwzpt->isReadOnly() && h.Edit_hwSpan->isReadOnly() && h.Edit_hwUref->isReadOnly());
    ASSERT_EQ(h.Edit_hwzpt->text(), QStringLiteral("111.1"));

    QTest::mouseClick(h.CheckBox_KeyServ, Qt::LeftButton);
    QTest::mouseClick(h.CheckBoxNoVib, Qt::LeftButton);
    ASSERT_TRUE(h.ButtonHWSet->isEnabled());
    const std::size_t before = bench.line->size();
    bench.Click(h.ButtonHWSet);
    const std::vector<LineFrame> line = bench.line->since(before);
    EXPECT_EQ(CommandRequests(line), (Names{"R33", "R2", "W33", "R33"}));
    std::optional<LineFrame> write = First(line, "W33");
    ASSERT_TRUE(write);
    EXPECT_EQ(write->payload, (Bytes{0x00, 0x57, 0x04, 0xB0, 0x01, 0x71, 0x45, 0xA0, 0x00, 0x00}));
    EXPECT_TRUE(h.CheckBox_KeyServ->isChecked());
    EXPECT_FALSE(h.ButtonHWSet->isEnabled());
}

TEST(HardwareTab, LeavingWritesFirstAndAfterADisconnectNothingReachesTheWire)
{
    Bench bench;
    const MainWidgets &w = bench.w();
    const HardwareWidgets &h = w.hardware;
    ASSERT_TRUE(bench.rig.ConnectOn(InstrumentTab::Hardware));

    QTest::mouseClick(h.CheckBoxonlybat, Qt::LeftButton);
    std::size_t before = bench.line->size();
    bench.ClickTab(InstrumentTab::Range);
    EXPECT_EQ(CommandRequests(bench.line->since(before)), (Names{"R33", "R2", "W33", "R33", "R4"}));
    std::optional<LineFrame> write = First(bench.line->since(before), "W33");
    ASSERT_TRUE(write);
    // The simulated instrument's own 130.5 mV, 7.50 and 1899.5 mV.
    EXPECT_EQ(Bytes(write->payload.begin() + 1, write->payload.begin() + 7),
              (Bytes{0x19, 0x05, 0xEE, 0x02, 0x33, 0x4A}));
    EXPECT_EQ(write->payload[7], 0x80 | 0x10);

    ASSERT_TRUE(bench.rig.ShowTab(InstrumentTab::Hardware));
    QTest::mouseClick(h.CheckBoxNoVib, Qt::LeftButton);
    bench.rig.window().changes().MarkChanged(SettingsGroup::Limits);
    bench.rig.window().changes().MarkChanged(SettingsGroup::Signals);
    ASSERT_TRUE(h.ButtonHWSet->isEnabled() && w.range.ButtonSetGW->isEnabled());
    w.control.Button_ClosePort->click();
    ASSERT_TRUE(SpinUntil([&] { return !bench.rig.window().connection()->portOpen() && bench.rig.Idle(); }, 5s));
    // Clearing the fields enabled no set button again; the hardware one keeps its state.
    EXPECT_FALSE(w.range.ButtonSetGW->isEnabled());
    EXPECT_FALSE(w.signalTab.ButtonSetSig->isEnabled());
    EXPECT_TRUE(h.ButtonHWSet->isEnabled());

    bench.rig.dialogs.messages.clear();
    before = bench.line->size();
    bench.Click(h.ButtonHWSet);
    SpinFor(50ms);
    EXPECT_EQ(bench.rig.dialogs.messages, QStringList{QStringLiteral("Comport nicht geöffnet!")});
    EXPECT_EQ(bench.line->size(), before);
}

TEST(GeneralTab, SetTimeWritesTheClockAndChecksIt)
{
    sim::Scenario scenario = FastScenario(221);
    scenario.faults.clockReadOnly = false;
    Bench bench(scenario);
    ASSERT_TRUE(bench.rig.Connect());
    const std::size_t before = bench.line->size();
    bench.Click(bench.w().general.ButtonTime);
    EXPECT_EQ(RequestNames(bench.line->since(before)), (Names{"R2", "W3", "R3", "R7"}));
    EXPECT_TRUE(bench.rig.dialogs.messages.isEmpty());
}

} // namespace
