// The window's identity, calibration and service function commands: what each
// button and each leave of a tab sends, and the factory setup dialog.
#include "UiRig.h"

#include <CalibrationTab.h>
#include <ConnectionLamp.h>
#include <IdentityTab.h>
#include <SetupDialog.h>

#include <QSet>

#include <tuple>

namespace {

using namespace r310;
using namespace r310::ui;
using namespace uitest;

// The window on a simulated instrument whose requests the test reads with
// their payloads.
class CommandsRig : public WindowRig {
public:
    explicit CommandsRig(sim::Scenario scenario = FastScenario(), QStringList arguments = {})
        : WindowRig(Options(std::move(scenario), std::move(arguments)))
    {
    }

    static RigOptions Options(sim::Scenario scenario, QStringList arguments)
    {
        RigOptions options;
        options.scenario = std::move(scenario);
        if (!arguments.isEmpty())
            options.arguments = std::move(arguments);
        return options;
    }

    // Changes the simulated instrument on its own thread.
    void OnInstrument(const std::function<void(sim::Device &)> &f)
    {
        std::shared_ptr<r310test::Line> wire = line;
        window().connection()->runAndWait(QStringLiteral("test"),
                                          [wire, f](JobContext &) { f(wire->backend->device()); });
    }
    // The instrument of the open port (closing the port ends it).
    sim::DeviceState State()
    {
        sim::DeviceState state;
        OnInstrument([&state](sim::Device &device) { state = device.state(); });
        return state;
    }
    // Whether a request of that name was heard since `from`.
    bool Heard(std::size_t from, const std::string &name) const { return First(line->since(from), name).has_value(); }
    std::vector<LineFrame> Click(QAbstractButton *button)
    {
        return During([button] { button->click(); });
    }
    TForm1 &form1() { return window().findChild<IdentityTab *>()->SetupDialog(); }
    int CurrentTab() const { return w().PageControl1->currentIndex(); }
};

Bytes IdentityWrite(const std::string &id)
{
    Bytes bytes(21, 0);
    std::copy(id.begin(), id.end(), bytes.begin() + 10);
    return bytes;
}

// ---- Customer ID -------------------------------------------------------------

TEST(CustomerIdWrite, ButtonWritesTheTypedIdAndTheReadBackLeavesTheGroupClean)
{
    CommandsRig c;
    ASSERT_TRUE(c.Connect());
    QLineEdit &edit = *c.w().general.Edit_CostId;
    edit.selectAll();
    QTest::keyClicks(&edit, QStringLiteral("ABC"));
    ASSERT_TRUE(c.w().general.ButtonCostID->isEnabled());
    const std::vector<LineFrame> heard = c.Click(c.w().general.ButtonCostID);
    EXPECT_EQ(FrameNames(heard), (Names{"R2", "W2", "R2"}));
    ExpectFrames(heard, {{"R2"}, {"W2", IdentityWrite("ABC")}});
    EXPECT_EQ(edit.text(), QStringLiteral("ABC"));
    EXPECT_FALSE(c.w().general.ButtonCostID->isEnabled());
}

TEST(CustomerIdWrite, LeavingGeneralWritesAChangedIdBeforeTheNextTabsReads)
{
    CommandsRig c;
    ASSERT_TRUE(c.Connect());
    QTest::keyClicks(c.w().general.Edit_CostId, QStringLiteral("7"));
    ExpectFrames(c.During([&] { EXPECT_TRUE(c.ShowTab(InstrumentTab::Range)); }),
                 {{"R2"}, {"W2", IdentityWrite("DEMO7")}, {"R2"}, {"R4"}});
    EXPECT_EQ(c.CurrentTab(), c.window().IndexOf(InstrumentTab::Range));
    EXPECT_FALSE(c.w().general.ButtonCostID->isEnabled());

    // Unchanged: leaving writes nothing.
    ASSERT_TRUE(c.ShowTab(InstrumentTab::General));
    EXPECT_FALSE(First(c.During([&] { EXPECT_TRUE(c.ShowTab(InstrumentTab::Signals)); }), "W2"));
}

TEST(CustomerIdWrite, ATenCharacterIdShowsWholeAndGoesBackUnchanged)
{
    sim::Scenario scenario = FastScenario();
    scenario.customerId = "ABCDEFGHIJ";
    CommandsRig c(scenario);
    ASSERT_TRUE(c.Connect());
    EXPECT_EQ(c.w().general.Edit_CostId->text(), QStringLiteral("ABCDEFGHIJ"));
    c.window().changes().MarkChanged(SettingsGroup::CustomerId);
    ExpectFrames(c.Click(c.w().general.ButtonCostID), {{"R2"}, {"W2", IdentityWrite("ABCDEFGHIJ")}});
    EXPECT_EQ(c.w().general.Edit_CostId->text(), QStringLiteral("ABCDEFGHIJ"));
}

TEST(CustomerIdWrite, ACharacterBeyondOneByteIsRefusedWithNothingSent)
{
    CommandsRig c;
    ASSERT_TRUE(c.Connect());
    c.w().general.Edit_CostId->setText(QStringLiteral("AB\u20AC"));
    c.window().changes().MarkChanged(SettingsGroup::CustomerId);
    const std::size_t before = c.line->size();
    c.Click(c.w().general.ButtonCostID);
    EXPECT_FALSE(c.Heard(before, "W2"));
    ASSERT_EQ(c.dialogs.errors.size(), 1);
    EXPECT_TRUE(c.dialogs.errors.first().contains(QStringLiteral("U+20ac")));
    EXPECT_TRUE(c.w().general.ButtonCostID->isEnabled());
    // Leaving the tab tries the write, says why not, and lets the user go.
    ASSERT_TRUE(c.ShowTab(InstrumentTab::Range));
    EXPECT_EQ(c.dialogs.errors.size(), 2);
    EXPECT_FALSE(c.Heard(before, "W2"));
}

// ---- Factory setup -----------------------------------------------------------

const QStringList kFactoryArguments{QStringLiteral("R310Conf"), QStringLiteral("/pr"), QStringLiteral("--port"),
                                    QStringLiteral("sim")};

// Connected with the factory switch; "Setup" opens the dialog.
struct FactoryRig : CommandsRig {
    FactoryRig() : CommandsRig(FastScenario(), kFactoryArguments) { EXPECT_TRUE(Connect()); }
    TForm1 &Setup()
    {
        w().control.Button4->click();
        return form1();
    }
};

TEST(FactorySetupDialog, CaptionsButtonsAndKeyFilters)
{
    CommandsRig c(FastScenario(), kFactoryArguments);
    TForm1 &form = c.form1();
    EXPECT_TRUE(form.isHidden());
    EXPECT_EQ(form.windowTitle(), QStringLiteral("Setup"));
    EXPECT_EQ(form.findChild<QLabel *>(QStringLiteral("Label1"))->text(), QStringLiteral("Serien  Nummer:"));
    EXPECT_EQ(form.findChild<QLabel *>(QStringLiteral("Label2"))->text(), QStringLiteral("Costumer ID:"));
    EXPECT_EQ(form.CheckBox1->text(), QStringLiteral("Update Grenzwertliste"));
    EXPECT_EQ(form.Button1->text(), QStringLiteral("&Ok"));
    EXPECT_TRUE(form.Button1->isDefault());
    EXPECT_EQ(form.Button2->text(), QStringLiteral("&Abbruch"));
    EXPECT_EQ(form.Edit1->maxLength(), 8);
    EXPECT_EQ(form.Edit2->maxLength(), 9);

    // The port closed: "Setup" does nothing.
    c.w().control.Button4->click();
    EXPECT_TRUE(form.isHidden());

    ASSERT_TRUE(c.Connect());
    c.w().control.Button4->click();
    ASSERT_TRUE(form.isVisible());
    EXPECT_TRUE(form.isModal());
    EXPECT_EQ(form.Edit1->text(), QStringLiteral("00000001"));
    // Typed keys pass the filters: digits only, then upper case and the allowed marks.
    for (const auto &[edit, typed, shown] : {std::tuple{form.Edit1, "1a*-2 3", "123"},
                                             std::tuple{form.Edit2, "ab*c-1,x.y_", "ABC-1,X.Y"}}) {
        edit->clear();
        QTest::keyClicks(edit, QString::fromLatin1(typed));
        EXPECT_EQ(edit->text(), QString::fromLatin1(shown));
    }
    QTest::keyClick(form.Edit1, Qt::Key_Backspace);
    EXPECT_EQ(form.Edit1->text(), QStringLiteral("12"));

    // Escape cancels and sends nothing.
    const std::vector<LineFrame> heard = c.During([&] { QTest::keyClick(form.Edit2, Qt::Key_Escape); });
    EXPECT_TRUE(form.isHidden());
    EXPECT_EQ(form.result(), QDialog::Rejected);
    EXPECT_FALSE(First(heard, "W30"));
}

TEST(FactorySetupDialog, OkWritesSetupThenConnectsAndTheNextUseProposesTheNextNumber)
{
    FactoryRig c;
    c.window().findChild<IdentityTab *>()->SetClock([] { return 631152000; });
    TForm1 &form = c.Setup();
    form.Edit1->setText(QStringLiteral("00000041"));
    form.Edit2->setText(QStringLiteral("LUMO 7"));
    form.CheckBox1->setChecked(true);
    // Serial number 41, the clock, "LUMO 7" and the limit list update flag.
    Bytes expected{41, 0, 0, 0, 0x80, 0x9D, 0x9E, 0x25, 'L', 'U', 'M', 'O', ' ', '7'};
    expected.resize(28, 0);
    expected[18] = 0xAA;
    const std::vector<LineFrame> heard = c.During([&] {
        QTest::keyClick(form.Edit1, Qt::Key_Return); // the default button
        EXPECT_TRUE(form.isHidden());
    });
    ASSERT_GE(heard.size(), 5U);
    ExpectFrames(heard, {{"R2"}, {"W30", expected}, {"C1"}, {"R2"}});
    EXPECT_EQ(c.w().general.Edit_DevSn->text(), QStringLiteral("00000041"));
    EXPECT_EQ(c.w().general.Edit_CostId->text(), QStringLiteral("LUMO 7"));

    c.w().control.Button4->click();
    EXPECT_EQ(form.Edit1->text(), QStringLiteral("00000042"));
    EXPECT_EQ(form.Edit2->text(), QStringLiteral("LUMO 7"));
    EXPECT_TRUE(form.CheckBox1->isChecked());
    form.reject();
}

TEST(FactorySetupDialog, EntriesThatCannotBeSentAreRefusedInTheDialog)
{
    FactoryRig c;
    TForm1 &form = c.Setup();
    const std::vector<LineFrame> heard = c.During([&] {
        // Pasted text passes the key filter; "&Ok" checks it.
        for (const char *serial : {"", "0", "00000000", "-5", "12x"}) {
            form.Edit1->setText(QString::fromLatin1(serial));
            form.Button1->click();
            EXPECT_TRUE(form.isVisible()) << serial;
            EXPECT_TRUE(form.Refusal->isVisible());
            EXPECT_TRUE(form.Refusal->text().contains(QStringLiteral("1 to 99999999"))) << serial;
        }
        form.Edit1->setText(QStringLiteral("7"));
        form.Edit2->setText(QStringLiteral("A*B"));
        form.Button1->click();
        EXPECT_TRUE(form.isVisible());
        EXPECT_TRUE(form.Refusal->text().contains(QStringLiteral("A*B")));
        form.Button2->click();
        EXPECT_TRUE(form.isHidden());
    });
    EXPECT_FALSE(First(heard, "W30"));
}

TEST(FactorySetupDialog, MemoryMovesOnOnlyAfterTheInstrumentTookTheSetup)
{
    FactoryRig c;
    TForm1 &form = c.Setup();
    form.Edit1->setText(QStringLiteral("50"));
    // The setup goes unheard; the identity read before it is answered.
    sim::FaultPlan silent;
    silent.noAnswer.probability = 1.0;
    silent.objects = {kObjectFactorySetup};
    c.OnInstrument([silent](sim::Device &device) { device.setFaults(silent); });
    const std::size_t before = c.line->size();
    form.Button1->click();
    ASSERT_TRUE(SpinUntil([&] { return c.Heard(before, "W30"); }, 5s));
    ASSERT_TRUE(c.Idle());
    EXPECT_EQ(c.w().control.Shape1->brushColour(), kStatusRed);
    EXPECT_EQ(form.Memory().lastSerialNumber, 0);
    // A new connection opens a new instrument, without the fault.
    c.window().ClosePort();
    ASSERT_TRUE(c.PortClosed());
    ASSERT_TRUE(c.Connect());
    c.w().control.Button4->click();
    EXPECT_EQ(form.Edit1->text(), QStringLiteral("00000001")) << "the number that was not written is not skipped";

    // The fields are filled when shown, not when the dialog becomes active again.
    form.Edit1->setText(QStringLiteral("777"));
    QEvent activate(QEvent::WindowActivate);
    QCoreApplication::sendEvent(&form, &activate);
    EXPECT_EQ(form.Edit1->text(), QStringLiteral("777"));
    form.reject();
}

TEST(FactorySetupDialog, AProposalBeyondEightDigitsIsShownWholeAndRefused)
{
    FactoryRig c;
    TForm1 &form = c.form1();
    FactorySetupEntries last;
    last.serialNumber = 99999999;
    form.Confirm(last);
    c.Setup();
    EXPECT_EQ(form.Edit1->text(), QStringLiteral("100000000"));
    form.Button1->click();
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.Refusal->text().isEmpty());
    form.reject();
}

// ---- Calibration -------------------------------------------------------------

// Connected to an instrument whose calibration runs four reads, on the tab given.
struct CalibrationRig : CommandsRig {
    CalibrationRig(bool fails, InstrumentTab tab) : CommandsRig(Calibrating(fails))
    {
        dialogs.questionAnswer = true; // the guided step: the gas is applied
        EXPECT_TRUE(ConnectOn(tab));
    }
    static sim::Scenario Calibrating(bool fails)
    {
        sim::Scenario scenario = FastScenario();
        scenario.exponent = -1;
        scenario.calibrationReads = 4;
        scenario.calibrationFails = fails;
        return scenario;
    }
    QColor ResultColour() const { return cal.Edit6->palette().color(QPalette::Base); }
    bool Running() { return window().connection()->record().CalibrationRunning; }
    const CalibrationWidgets &cal = w().calibration;
};

TEST(CalibrationTab, SpanBeforeTheRangeTabRunsScaledToOkWithTheTabHeld)
{
    CalibrationRig c(false, InstrumentTab::Calibration);
    const CalibrationWidgets &cal = c.cal;
    cal.Edit5->setText(QStringLiteral("50"));
    const std::size_t before = c.line->size();
    cal.Button5->click();
    EXPECT_FALSE(cal.Button5->isEnabled());
    ASSERT_TRUE(SpinUntil([&] { return c.Running(); }, 5s));
    ExpectFrames(c.line->since(before), {{"R4"}, {"R2"}, {"W9", Bytes{0xF4, 0x01}}});

    // Running: the buttons stay disabled and the tab stays in front.
    ASSERT_TRUE(SpinUntil([&] { return cal.Edit6->text() == QStringLiteral("Running"); }, 5s));
    ExpectEnabled({cal.Button5, cal.Button6, cal.Button7}, false);
    EXPECT_FALSE(c.window().tabGuard().requestTab(c.window().IndexOf(InstrumentTab::General)));
    EXPECT_EQ(c.CurrentTab(), c.window().IndexOf(InstrumentTab::Calibration));
    QSet<QRgb> colours;
    ASSERT_TRUE(SpinUntil([&] {
        colours.insert(c.ResultColour().rgb());
        return cal.Edit6->text() == QStringLiteral("OK");
    }, 5s));
    EXPECT_TRUE(colours.contains(kStatusYellow.rgb())) << "Running blinks yellow";
    EXPECT_EQ(c.ResultColour(), kStatusLimeGreen);
    EXPECT_FALSE(c.Running());
    EXPECT_EQ(c.State().calibration.gas, 500);

    // The end releases the tab; the first clock poll enables the buttons again.
    ASSERT_TRUE(SpinUntil([&] { return cal.Button5->isEnabled(); }, 5s));
    EXPECT_TRUE(cal.Button6->isEnabled() && cal.Button7->isEnabled());
    ASSERT_TRUE(c.ShowTab(InstrumentTab::General));
    EXPECT_EQ(c.CurrentTab(), c.window().IndexOf(InstrumentTab::General));
}

TEST(CalibrationTab, ZeroRunsToErrorOnRed)
{
    CalibrationRig c(true, InstrumentTab::Calibration);
    const std::size_t before = c.line->size();
    c.cal.Button7->click();
    ASSERT_TRUE(SpinUntil([&] { return c.cal.Edit6->text() == QStringLiteral("Error"); }, 5s));
    EXPECT_EQ(c.ResultColour(), kStatusRed);
    // The range end first: a zero is judged against it.
    ExpectFrames(c.line->since(before), {{"R4"}, {"R2"}, {"W9", Bytes{0x00, 0x00}}});
    EXPECT_FALSE(c.Running());
    ASSERT_TRUE(c.ShowTab(InstrumentTab::Range));
}

TEST(CalibrationTab, RefusedConcentrationsShowTheirMessageAndSendNoStart)
{
    CalibrationRig c(false, InstrumentTab::Range);
    ASSERT_TRUE(c.ShowTab(InstrumentTab::Calibration));
    const CalibrationWidgets &cal = c.cal;
    const std::size_t before = c.line->size();
    const struct {
        const char *text;
        QString message; // empty: an error naming the problem
        const char *error;
    } cases[] = {
        {"0", kNoCalibrationGasText, ""},
        {"0.04", kNoCalibrationGasText, ""},
        {"abc", {}, "'abc' is not a valid floating point value"},
        {"-5", {}, "negative"},
        {"4000", {}, "outside"},
    };
    for (const auto &k : cases) {
        SCOPED_TRACE(k.text);
        c.dialogs.messages.clear();
        c.dialogs.errors.clear();
        cal.Edit5->setText(QString::fromLatin1(k.text));
        c.Click(cal.Button5);
        SpinFor(20ms);
        if (!k.message.isEmpty()) {
            EXPECT_EQ(c.dialogs.messages, QStringList{k.message});
        } else {
            ASSERT_EQ(c.dialogs.errors.size(), 1);
            const QString error = c.dialogs.errors.first();
            EXPECT_TRUE(error.contains(QString::fromLatin1(k.error))) << error.toStdString();
        }
        EXPECT_TRUE(cal.Button5->isEnabled());
    }
    EXPECT_FALSE(c.Heard(before, "W9"));
    EXPECT_TRUE(c.ShowTab(InstrumentTab::General)) << "a refused start does not hold the tab";
}

TEST(CalibrationTab, HornCheckSendsOnThenOff)
{
    CommandsRig c;
    ASSERT_TRUE(c.Connect());
    const std::vector<LineFrame> heard = c.Click(c.w().calibration.Button6);
    EXPECT_EQ(FrameNames(heard), (Names{"R2", "W8", "R2", "W8"}));
    ExpectFrames(heard, {{"R2"}, {"W8", Bytes{1}}, {"R2"}, {"W8", Bytes{0}}});
}

// ---- Special functions -------------------------------------------------------

TEST(ServiceFunctionTab, StartSendsTheSelectedCodeAndNothingWithoutSelection)
{
    CommandsRig c;
    ASSERT_TRUE(c.Connect());
    const SpecialFunctionWidgets &s = c.w().special;
    EXPECT_TRUE(s.Button9->isEnabled());
    EXPECT_FALSE(First(c.Click(s.Button9), "W127"));

    c.dialogs.questionAnswer = true; // "Reset" asks first
    s.Funktion->item(2)->click();    // "Reset"
    ExpectFrames(c.Click(s.Button9), {{"R2"}, {"W127", Bytes{3}}});
    EXPECT_TRUE(c.window().connection()->portOpen());
}

TEST(ServiceFunctionTab, UpdateDisconnectsTheWindow)
{
    CommandsRig c;
    ASSERT_TRUE(c.Connect());
    const SpecialFunctionWidgets &s = c.w().special;
    s.Funktion->item(4)->click(); // "Update"
    const std::size_t before = c.line->size();
    s.Button9->click();
    ASSERT_TRUE(c.PortClosed());
    ExpectFrames(c.line->since(before), {{"R2"}, {"W127", Bytes{5}}});
    ExpectEnabled({c.w().control.Button12, c.w().control.ComPortList}, true);
    EXPECT_FALSE(c.window().connection()->record().InstrumentConnected);
    EXPECT_EQ(c.w().control.Shape1->brushColour(), kStatusRed);
    EXPECT_TRUE(c.w().general.Edit_DevSn->text().isEmpty());
}

TEST(ServiceFunctionTab, StartWithThePortClosedSaysSoAndSendsNothing)
{
    CommandsRig c;
    c.w().special.Funktion->item(1)->click();
    c.Click(c.w().special.Button9);
    SpinFor(20ms);
    EXPECT_EQ(c.dialogs.messages, QStringList{QStringLiteral("Comport nicht geöffnet!")});
    EXPECT_EQ(c.line->size(), 0U);
}

} // namespace
