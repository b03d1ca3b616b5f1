// The settings commands in the window: the set buttons, the writes of leaving
// the Range, Signals and Hardware tabs before the next tab is read (mouse,
// accelerator, Ctrl+Tab), the interval checks, the refusals and "Set &Time".
#include "UiRig.h"

namespace {

using namespace r310;
using namespace r310::ui;
using namespace uitest;

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

// The window active, every request recorded with its payload and the instrument's answers.
struct Bench : WindowRig {
    explicit Bench(sim::Scenario scenario = FastScenario(221)) : WindowRig(Options(scenario))
    {
        window().activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window()));
    }

    static RigOptions Options(const sim::Scenario &scenario)
    {
        RigOptions options;
        options.scenario = scenario;
        options.idlePoll = false;
        options.recordAnswers = true;
        return options;
    }

    // What the instrument heard while the action ran, without the idle poll.
    Names Commands(const std::function<void()> &action) { return CommandRequests(During(action)); }
    std::vector<LineFrame> ClickTab(InstrumentTab tab)
    {
        QTabBar &bar = *w().PageControl1->tabBar();
        const QPoint middle = bar.tabRect(window().IndexOf(tab)).center();
        return During([&] { QTest::mouseClick(&bar, Qt::LeftButton, {}, middle); });
    }
    std::vector<LineFrame> Keys(Qt::Key key, Qt::KeyboardModifiers modifiers)
    {
        return During([&] { Press(key, modifiers); });
    }
    std::vector<LineFrame> Click(QAbstractButton *button)
    {
        return During([button] { QTest::mouseClick(button, Qt::LeftButton); });
    }
    // On the indicator: a wide button takes clicks on its indicator and text only.
    static void Tick(QAbstractButton *button)
    {
        QTest::mouseClick(button, Qt::LeftButton, {}, QPoint(6, button->height() / 2));
    }
    // Types into the field and leaves it with Tab, so its check runs.
    void TypeAndLeave(QLineEdit *edit, const QString &text)
    {
        Type(edit, text);
        QTest::keyClick(edit, Qt::Key_Tab);
        EXPECT_TRUE(Idle());
    }
    bool Showing(InstrumentTab tab) { return w().PageControl1->currentIndex() == window().IndexOf(tab); }
};

TEST(RangeTab, TypingIntoA1ThenClickingSignalsWritesAndReadsBackBeforeObject31IsRead)
{
    Bench bench(ExponentMinusTwoScenario());
    bench.dialogs.questionAnswer = true; // limits in an unusual order: written on Yes
    const MainWidgets &w = bench.w();
    ASSERT_TRUE(bench.ConnectOn(InstrumentTab::Range));
    ASSERT_EQ(w.range.alarms[0].edit->text(), QStringLiteral("10.00"));
    ASSERT_FALSE(w.range.ButtonSetGW->isEnabled());

    Type(w.range.alarms[0].edit, QStringLiteral("20.5"));
    // STEL is latching already; "allowed honk off" is added.
    QTest::mouseClick(w.range.alarms[3].hornOff, Qt::LeftButton);
    ASSERT_TRUE(w.range.ButtonSetGW->isEnabled());
    const std::vector<LineFrame> line = bench.ClickTab(InstrumentTab::Signals);
    EXPECT_EQ(FrameNames(line), (Names{"R2", "A2", "W4", "A4", "R4", "A4", "R31", "A31"}));
    ASSERT_EQ(line.size(), 8u);
    EXPECT_EQ(line[2].flags, 0x60);
    ASSERT_EQ(line[2].payload.size(), 29u);
    ExpectBytesOf(line, "W4", {{8, 0x02}, {9, 0x08}, {21, 0x06}, {0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0},
                               {6, 0}, {7, 0}, {25, 0}, {26, 0}, {27, 0}, {28, 0}});
    EXPECT_EQ(line[5].payload[8], 0x02);
    EXPECT_EQ(line[5].payload[9], 0x08);

    EXPECT_TRUE(bench.Showing(InstrumentTab::Signals));
    EXPECT_EQ(w.range.alarms[0].edit->text(), QStringLiteral("20.50"));
    EXPECT_FALSE(w.range.ButtonSetGW->isEnabled());
    EXPECT_TRUE(bench.dialogs.errors.isEmpty());
    EXPECT_TRUE(bench.dialogs.messages.isEmpty());
}

TEST(RangeTab, AcceleratorAndCtrlTabWriteBeforeTheNextTabIsRead)
{
    Bench bench(ExponentMinusTwoScenario());
    bench.dialogs.questionAnswer = true; // limits in an unusual order: written on Yes
    const MainWidgets &w = bench.w();
    ASSERT_TRUE(bench.ConnectOn(InstrumentTab::Range));

    Type(w.range.Edit_Cal, QStringLiteral("50.00")); // 5000
    std::vector<LineFrame> line = bench.Keys(Qt::Key_H, Qt::AltModifier);
    EXPECT_EQ(CommandRequests(line), (Names{"R2", "W4", "R4", "R33"}));
    ExpectBytesOf(line, "W4", {{23, 0x88}, {24, 0x13}});
    EXPECT_TRUE(bench.Showing(InstrumentTab::Hardware));

    bench.Keys(Qt::Key_R, Qt::AltModifier);
    ASSERT_TRUE(bench.Showing(InstrumentTab::Range));
    Type(w.range.alarms[1].edit, QStringLiteral("1.25"));
    line = bench.Keys(Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(CommandRequests(line), (Names{"R2", "W4", "R4", "R31"}));
    ExpectBytesOf(line, "W4", {{10, 0x7D}, {11, 0x00}}); // 125
    EXPECT_TRUE(bench.Showing(InstrumentTab::Signals));
    EXPECT_TRUE(bench.dialogs.errors.isEmpty());
}

TEST(RangeTab, InputThatDoesNotConvertOrFitIsRefusedWithNothingOnTheWire)
{
    Bench bench(ExponentMinusTwoScenario());
    const MainWidgets &w = bench.w();
    RecordingDialogs &dialogs = bench.dialogs;
    ASSERT_TRUE(bench.ConnectOn(InstrumentTab::Range));

    const std::size_t before = bench.line->size();
    for (const char *typed : {"abc", "400", "1,000"}) {
        Type(w.range.alarms[0].edit, QString::fromLatin1(typed));
        bench.Click(w.range.ButtonSetGW);
    }
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
    const SignalsWidgets &s = bench.w().signalTab;
    ASSERT_TRUE(bench.Connect());
    const auto read = First(bench.During([&] { EXPECT_TRUE(bench.ShowTab(InstrumentTab::Signals)); }), "A31");
    ASSERT_TRUE(read);

    // Louder, Long, Off, Optical, DD/MM/YY, Quick or Alarm.
    const std::pair<RadioGroup *, int> picks[] = {{s.RadioGroup_Bsig, 2},    {s.RadioGroup_VSig, 3},
                                                  {s.RadioGroup_KSig, 0},    {s.RadioGroup_Wup, 3},
                                                  {s.RadioGroup_DateFmt, 2}, {s.RadioGroup_Wakeup, 1}};
    for (const auto &[group, item] : picks)
        Bench::Tick(group->item(item));
    const std::pair<QCheckBox *, bool> ticks[] = {{s.CheckBox12h, false}, {s.CheckBoxShowTime, true},
                                                  {s.CheckBoxSek, false}};
    for (const auto &[box, was] : ticks) {
        ASSERT_EQ(box->isChecked(), was) << box->objectName().toStdString();
        Bench::Tick(box);
    }
    // Whatever the date fields show, the day counts of the last read go back.
    s.Edit_NextBumpDate->setText(QStringLiteral("01.01.25"));
    ASSERT_TRUE(s.ButtonSetSig->isEnabled());

    const std::vector<LineFrame> line = bench.Click(s.ButtonSetSig);
    EXPECT_EQ(CommandRequests(line), (Names{"R2", "W31", "R31"}));
    const std::optional<LineFrame> write = First(line, "W31");
    ASSERT_TRUE(write);
    ASSERT_EQ(write->payload.size(), 16u);
    ExpectBytesOf(line, "W31", {{0, 0xCE}, {2, 0x59}, {12, 0}, {13, 0}, {14, 0}, {15, 0}});
    for (std::size_t i = 3; i <= 11; ++i)
        EXPECT_EQ(write->payload[i], read->payload[i]) << "byte " << i;
    EXPECT_EQ(s.RadioGroup_Bsig->itemIndex(), 2);
    EXPECT_NE(s.Edit_NextBumpDate->text(), QStringLiteral("01.01.25"));
    EXPECT_FALSE(s.ButtonSetSig->isEnabled());
    EXPECT_TRUE(bench.dialogs.errors.isEmpty());
}

TEST(SignalsTab, IntervalFieldsAreCheckedWhenTheFocusLeavesThem)
{
    Bench bench;
    const SignalsWidgets &s = bench.w().signalTab;
    RecordingDialogs &dialogs = bench.dialogs;
    ASSERT_TRUE(bench.ConnectOn(InstrumentTab::Signals));
    ASSERT_EQ(s.Edit_DeltaBumpDay->text(), QStringLiteral("30"));

    // Empty or no number: the default, without a message, and the tab counts as changed.
    EXPECT_TRUE(bench.Commands([&] {
        bench.TypeAndLeave(s.Edit_DeltaBumpDay, QString());
        EXPECT_EQ(s.Edit_DeltaBumpDay->text(), QStringLiteral("14"));
        bench.TypeAndLeave(s.Edit_DeltaCalDay, QStringLiteral("abc"));
        EXPECT_EQ(s.Edit_DeltaCalDay->text(), QStringLiteral("60"));
    }).empty());
    EXPECT_TRUE(dialogs.messages.isEmpty());
    EXPECT_TRUE(s.ButtonSetSig->isEnabled());

    // Outside the range: the message, then the instrument's values again.
    EXPECT_EQ(bench.Commands([&] { bench.TypeAndLeave(s.Edit_DeltaBumpDay, QStringLiteral("1")); }), (Names{"R31"}));
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("Error! from 2 to 365 allowed!")});
    ExpectTexts({{s.Edit_DeltaBumpDay, "30"}, {s.Edit_DeltaCalDay, "180"}});
    EXPECT_FALSE(s.ButtonSetSig->isEnabled());

    // Each field's range, its edges taken without a message or a request.
    const struct {
        QLineEdit *field;
        const char *typed;
        const char *message; // empty: none
    } cases[] = {
        {s.Edit_DeltaCalDay, "4", "Error! from 5 to 730 allowed!"},
        {s.Edit_DeltaCalDay, "5", ""},
        {s.Edit_DeltaCalDay, "730", ""},
        {s.Edit_DeltaBumpDay, "366", "Error! from 2 to 365 allowed!"},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.typed);
        dialogs.messages.clear();
        const Names heard = bench.Commands([&] { bench.TypeAndLeave(k.field, QString::fromLatin1(k.typed)); });
        EXPECT_EQ(dialogs.messages, *k.message ? QStringList{QString::fromLatin1(k.message)} : QStringList{});
        if (!*k.message) {
            EXPECT_TRUE(heard.empty());
        }
    }
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST(SignalsTab, AnIntervalStillInItsFieldIsCheckedByTheCommandToo)
{
    Bench bench;
    const SignalsWidgets &s = bench.w().signalTab;
    RecordingDialogs &dialogs = bench.dialogs;
    ASSERT_TRUE(bench.ConnectOn(InstrumentTab::Signals));

    // The accelerator clicks "Set S&ignals" while the focus stays in the field.
    Type(s.Edit_DeltaBumpDay, QStringLiteral("400"));
    EXPECT_TRUE(CommandRequests(bench.Keys(Qt::Key_I, Qt::AltModifier)).empty());
    EXPECT_TRUE(s.Edit_DeltaBumpDay->hasFocus());
    EXPECT_EQ(dialogs.errors,
              QStringList{QStringLiteral("Delta Bump Days: 400 is outside the allowed range 2 to 365")});

    // Leaving the tab from the field: its check runs once, before the change,
    // the changes are discarded and nothing is written.
    dialogs.errors.clear();
    EXPECT_EQ(CommandRequests(bench.Keys(Qt::Key_R, Qt::AltModifier)), (Names{"R31", "R4"}));
    EXPECT_TRUE(bench.Showing(InstrumentTab::Range));
    EXPECT_EQ(dialogs.messages, QStringList{QStringLiteral("Error! from 2 to 365 allowed!")});
    EXPECT_TRUE(dialogs.errors.isEmpty());
    EXPECT_FALSE(s.ButtonSetSig->isEnabled());
    EXPECT_EQ(s.Edit_DeltaBumpDay->text(), QStringLiteral("30"));

    // An invalid interval becomes its default on leaving, and is written.
    ASSERT_TRUE(bench.ShowTab(InstrumentTab::Signals));
    Type(s.Edit_DeltaCalDay, QStringLiteral("x"));
    const std::vector<LineFrame> line = bench.Keys(Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(CommandRequests(line), (Names{"R2", "W31", "R31", "R33"}));
    ExpectBytesOf(line, "W31", {{9, 60}, {10, 0}});
}

TEST(SignalsTab, NothingReadMeansNoSelectionAndNoWrite)
{
    sim::Scenario scenario = FastScenario(221);
    scenario.faults.noAnswer.probability = 1.0;
    scenario.faults.objects = {kObjectSignals};
    Bench bench(scenario);
    const SignalsWidgets &s = bench.w().signalTab;
    ASSERT_TRUE(bench.Connect());
    // The signals never answer: the groups have no selection.
    ASSERT_TRUE(bench.ShowTab(InstrumentTab::Signals));
    ASSERT_EQ(s.RadioGroup_Bsig->itemIndex(), -1);
    Type(s.Edit_BeepTime, QStringLiteral("30"));
    EXPECT_TRUE(CommandRequests(bench.Click(s.ButtonSetSig)).empty());
    EXPECT_EQ(bench.dialogs.errors,
              QStringList{QStringLiteral(
                  "Confidence Bleep: no item selected (the signals have not been read from the instrument)")});
}

TEST(HardwareTab, SetSendsTheInstrumentsOwnValuesWithTheTickedOptions)
{
    sim::Scenario scenario = FastScenario(221);
    scenario.hwZeroPoint = 1111;
    scenario.hwGain = 432;
    scenario.hwReference = 17777;
    scenario.hwOptions = 0x00;
    Bench bench(scenario);
    const HardwareWidgets &h = bench.w().hardware;
    ASSERT_TRUE(bench.ConnectOn(InstrumentTab::Hardware));
    EXPECT_TRUE(h.Edit_hwzpt->isReadOnly() && h.Edit_hwSpan->isReadOnly() && h.Edit_hwUref->isReadOnly());
    ASSERT_EQ(h.Edit_hwzpt->text(), QStringLiteral("111.1"));

    QTest::mouseClick(h.CheckBox_KeyServ, Qt::LeftButton);
    QTest::mouseClick(h.CheckBoxNoVib, Qt::LeftButton);
    ASSERT_TRUE(h.ButtonHWSet->isEnabled());
    const std::vector<LineFrame> line = bench.Click(h.ButtonHWSet);
    EXPECT_EQ(CommandRequests(line), (Names{"R33", "R2", "W33", "R33"}));
    ExpectPayloadOf(line, "W33", {0x00, 0x57, 0x04, 0xB0, 0x01, 0x71, 0x45, 0xA0, 0x00, 0x00});
    EXPECT_TRUE(h.CheckBox_KeyServ->isChecked());
    EXPECT_FALSE(h.ButtonHWSet->isEnabled());
}

TEST(HardwareTab, LeavingWritesFirstAndAfterADisconnectNothingReachesTheWire)
{
    Bench bench;
    const MainWidgets &w = bench.w();
    const HardwareWidgets &h = w.hardware;
    ASSERT_TRUE(bench.ConnectOn(InstrumentTab::Hardware));

    QTest::mouseClick(h.CheckBoxonlybat, Qt::LeftButton);
    const std::vector<LineFrame> line = bench.ClickTab(InstrumentTab::Range);
    EXPECT_EQ(CommandRequests(line), (Names{"R33", "R2", "W33", "R33", "R4"}));
    // The simulated instrument's own 130.5 mV, 7.50 and 1899.5 mV.
    ExpectBytesOf(line, "W33", {{1, 0x19}, {2, 0x05}, {3, 0xEE}, {4, 0x02}, {5, 0x33}, {6, 0x4A}, {7, 0x80 | 0x10}});

    ASSERT_TRUE(bench.ShowTab(InstrumentTab::Hardware));
    QTest::mouseClick(h.CheckBoxNoVib, Qt::LeftButton);
    bench.window().changes().MarkChanged(SettingsGroup::Limits);
    bench.window().changes().MarkChanged(SettingsGroup::Signals);
    ASSERT_TRUE(h.ButtonHWSet->isEnabled() && w.range.ButtonSetGW->isEnabled());
    ASSERT_TRUE(bench.ClosePort());
    // Clearing the fields enabled no set button again; the hardware one keeps its state.
    ExpectEnabled({w.range.ButtonSetGW, w.signalTab.ButtonSetSig}, false);
    EXPECT_TRUE(h.ButtonHWSet->isEnabled());

    bench.dialogs.messages.clear();
    const std::size_t before = bench.line->size();
    bench.Click(h.ButtonHWSet);
    SpinFor(50ms);
    EXPECT_EQ(bench.dialogs.messages, QStringList{QStringLiteral("Comport nicht geöffnet!")});
    EXPECT_EQ(bench.line->size(), before);
}

TEST(GeneralTab, SetTimeWritesTheClockAndChecksIt)
{
    sim::Scenario scenario = FastScenario(221);
    scenario.faults.clockReadOnly = false;
    Bench bench(scenario);
    ASSERT_TRUE(bench.Connect());
    EXPECT_EQ(RequestNames(bench.Click(bench.w().general.ButtonTime)), (Names{"R2", "W3", "R3", "R7"}));
    EXPECT_TRUE(bench.dialogs.messages.isEmpty());
}

} // namespace
