// The window's identity, calibration and special function commands against
// the simulated instrument, offscreen: what each button and each leave of a
// tab sends (payloads as the instrument heard them), the factory setup
// dialog with its key filters, refusals and memory, a calibration followed
// to "OK" and to "Error" with the tab held meanwhile, and "Update"
// disconnecting.
#include "UiRig.h"

#include <CalibrationTab.h>
#include <ConnectionLamp.h>
#include <IdentityTab.h>
#include <RadioGroup.h>
#include <SetupDialog.h>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSet>
#include <QTabWidget>
#include <QTest>

#include <gtest/gtest.h>

namespace {

using namespace r310;
using namespace r310::ui;
using namespace uitest;
using Bytes = std::vector<std::uint8_t>;

using Heard = r310test::LineFrame;
using Names = std::vector<std::string>;

// The window on a simulated instrument whose requests the test reads with
// their payloads.
class CommandsRig {
public:
    explicit CommandsRig(sim::Scenario scenario = FastScenario(), QStringList arguments = {})
        : rig(Options(std::move(scenario), std::move(arguments)))
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
        std::shared_ptr<r310test::Line> line = wire;
        rig.window().connection()->runAndWait(QStringLiteral("test"),
                                              [line, f](JobContext &) { f(line->backend->device()); });
    }
    // The instrument of the open port (closing the port ends it).
    sim::DeviceState State()
    {
        sim::DeviceState state;
        OnInstrument([&state](sim::Device &device) { state = device.state(); });
        return state;
    }
    // Whether a request of that name was heard since `from`.
    bool Heard(std::size_t from, const std::string &name) const { return First(wire->since(from), name).has_value(); }
    Names NamesSince(std::size_t from) const { return FrameNames(wire->since(from)); }

    const MainWidgets &w() const { return rig.w(); }
    TFo_R310 &window() { return rig.window(); }
    TForm1 &form1() { return window().findChild<IdentityTab *>()->SetupDialog(); }
    int CurrentTab() const { return rig.w().PageControl1->currentIndex(); }

    WindowRig rig;
    std::shared_ptr<r310test::Line> wire = rig.line;
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
    ASSERT_TRUE(c.rig.Connect());
    QLineEdit &edit = *c.w().general.Edit_CostId;
    edit.selectAll();
    QTest::keyClicks(&edit, QStringLiteral("ABC"));
    ASSERT_TRUE(c.w().general.ButtonCostID->isEnabled());
    const std::size_t before = c.wire->size();
    c.w().general.ButtonCostID->click();
    ASSERT_TRUE(c.rig.Idle());
    const std::vector<Heard> heard = c.wire->since(before);
    ASSERT_EQ(c.NamesSince(before), (Names{"R2", "W2", "R2"}));
    EXPECT_EQ(heard[1].payload, IdentityWrite("ABC"));
    EXPECT_EQ(edit.text(), QStringLiteral("ABC"));
    EXPECT_FALSE(c.w().general.ButtonCostID->isEnabled());
}

TEST(CustomerIdWrite, LeavingGeneralWritesAChangedIdBeforeTheNextTabsReads)
{
    CommandsRig c;
    ASSERT_TRUE(c.rig.Connect());
    QTest::keyClicks(c.w().general.Edit_CostId, QStringLiteral("7"));
    const std::size_t before = c.wire->size();
    ASSERT_TRUE(c.rig.ShowTab(InstrumentTab::Range));
    const std::vector<Heard> heard = c.wire->since(before);
    ASSERT_EQ(FrameNames(heard, 4), (Names{"R2", "W2", "R2", "R4"}));
    EXPECT_EQ(heard[1].payload, IdentityWrite("DEMO7"));
    EXPECT_EQ(c.CurrentTab(), c.window().IndexOf(InstrumentTab::Range));
    EXPECT_FALSE(c.w().general.ButtonCostID->isEnabled());

    // Unchanged: leaving writes nothing.
    ASSERT_TRUE(c.rig.ShowTab(InstrumentTab::General));
    const std::size_t again = c.wire->size();
    ASSERT_TRUE(c.rig.ShowTab(InstrumentTab::Signals));
    EXPECT_FALSE(c.Heard(again, "W2"));
}

TEST(CustomerIdWrite, ATenCharacterIdShowsWholeAndGoesBackUnchanged)
{
    sim::Scenario scenario = FastScenario();
    scenario.customerId = "ABCDEFGHIJ";
    CommandsRig c(scenario);
    ASSERT_TRUE(c.rig.Connect());
    EXPECT_EQ(c.w().general.Edit_CostId->text(), QStringLiteral("ABCDEFGHIJ"));
    c.window().changes().MarkChanged(SettingsGroup::CustomerId);
    const std::size_t before = c.wire->size();
    c.w().general.ButtonCostID->click();
    ASSERT_TRUE(c.rig.Idle());
    const std::vector<Heard> heard = c.wire->since(before);
    ASSERT_GE(heard.size(), 2U);
    EXPECT_EQ(heard[1].payload, IdentityWrite("ABCDEFGHIJ"));
    EXPECT_EQ(c.w().general.Edit_CostId->text(), QStringLiteral("ABCDEFGHIJ"));
}

TEST(CustomerIdWrite, ACharacterBeyondOneByteIsRefusedWithNothingSent)
{
    CommandsRig c;
    ASSERT_TRUE(c.rig.Connect());
    c.w().general.Edit_CostId->setText(QStringLiteral("AB\u20AC"));
    c.window().changes().MarkChanged(SettingsGroup::CustomerId);
    const std::size_t before = c.wire->size();
    c.w().general.ButtonCostID->click();
    ASSERT_TRUE(c.rig.Idle());
    EXPECT_FALSE(c.Heard(before, "W2"));
    ASSERT_EQ(c.rig.dialogs.errors.size(), 1);
    EXPECT_TRUE(c.rig.dialogs.errors.first().contains(QStringLiteral("U+20ac")));
    EXPECT_TRUE(c.w().general.ButtonCostID->isEnabled());
    // Leaving the tab tries the write, says why not, and lets the user go.
    ASSERT_TRUE(c.rig.ShowTab(InstrumentTab::Range));
    EXPECT_EQ(c.rig.dialogs.errors.size(), 2);
    EXPECT_FALSE(c.Heard(before, "W2"));
}

// ---- Factory setup -----------------------------------------------------------

const QStringList kFactoryArguments{QStringLiteral("R310Conf"), QStringLiteral("/pr"), QStringLiteral("--port"),
                                    QStringLiteral("sim")};

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

    ASSERT_TRUE(c.rig.Connect());
    c.w().control.Button4->click();
    ASSERT_TRUE(form.isVisible());
    EXPECT_TRUE(form.isModal());
    EXPECT_EQ(form.Edit1->text(), QStringLiteral("00000001"));
    form.Edit1->clear();
    QTest::keyClicks(form.Edit1, QStringLiteral("1a*-2 3"));
    EXPECT_EQ(form.Edit1->text(), QStringLiteral("123"));
    QTest::keyClick(form.Edit1, Qt::Key_Backspace);
    EXPECT_EQ(form.Edit1->text(), QStringLiteral("12"));
    form.Edit2->clear();
    QTest::keyClicks(form.Edit2, QStringLiteral("ab*c-1,x.y_"));
    EXPECT_EQ(form.Edit2->text(), QStringLiteral("ABC-1,X.Y"));

    // Escape cancels and sends nothing.
    const std::size_t before = c.wire->size();
    QTest::keyClick(form.Edit2, Qt::Key_Escape);
    EXPECT_TRUE(form.isHidden());
    EXPECT_EQ(form.result(), QDialog::Rejected);
    ASSERT_TRUE(c.rig.Idle());
    EXPECT_FALSE(c.Heard(before, "W30"));
}

TEST(FactorySetupDialog, OkWritesSetupThenConnectsAndTheNextUseProposesTheNextNumber)
{
    CommandsRig c(FastScenario(), kFactoryArguments);
    ASSERT_TRUE(c.rig.Connect());
    c.window().findChild<IdentityTab *>()->SetClock([] { return 631152000; });
    TForm1 &form = c.form1();
    c.w().control.Button4->click();
    form.Edit1->setText(QStringLiteral("00000041"));
    form.Edit2->setText(QStringLiteral("LUMO 7"));
    form.CheckBox1->setChecked(true);
    const std::size_t before = c.wire->size();
    QTest::keyClick(form.Edit1, Qt::Key_Return); // the default button
    EXPECT_TRUE(form.isHidden());
    ASSERT_TRUE(c.rig.Idle());
    const std::vector<Heard> heard = c.wire->since(before);
    ASSERT_GE(heard.size(), 5U);
    ASSERT_EQ(FrameNames(heard, 4), (Names{"R2", "W30", "C1", "R2"}));
    // Serial number 41, the clock, "LUMO 7" and the limit list update flag.
    Bytes expected{41, 0, 0, 0, 0x80, 0x9D, 0x9E, 0x25, 'L', 'U', 'M', 'O', ' ', '7'};
    expected.resize(28, 0);
    expected[18] = 0xAA;
    EXPECT_EQ(heard[1].payload, expected);
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
    CommandsRig c(FastScenario(), kFactoryArguments);
    ASSERT_TRUE(c.rig.Connect());
    TForm1 &form = c.form1();
    c.w().control.Button4->click();
    const std::size_t before = c.wire->size();
    // Pasted text passes the key filter; "&Ok" checks it.
    for (const QString &serial : {QString(), QStringLiteral("0"), QStringLiteral("00000000"), QStringLiteral("-5"),
                                  QStringLiteral("12x")}) {
        form.Edit1->setText(serial);
        form.Button1->click();
        EXPECT_TRUE(form.isVisible()) << serial.toStdString();
        EXPECT_TRUE(form.Refusal->isVisible());
        EXPECT_TRUE(form.Refusal->text().contains(QStringLiteral("1 to 99999999"))) << form.Refusal->text().toStdString();
    }
    form.Edit1->setText(QStringLiteral("7"));
    form.Edit2->setText(QStringLiteral("A*B"));
    form.Button1->click();
    EXPECT_TRUE(form.isVisible());
    EXPECT_TRUE(form.Refusal->text().contains(QStringLiteral("A*B")));
    form.Button2->click();
    EXPECT_TRUE(form.isHidden());
    ASSERT_TRUE(c.rig.Idle());
    EXPECT_FALSE(c.Heard(before, "W30"));
}

TEST(FactorySetupDialog, MemoryMovesOnOnlyAfterTheInstrumentTookTheSetup)
{
    CommandsRig c(FastScenario(), kFactoryArguments);
    ASSERT_TRUE(c.rig.Connect());
    TForm1 &form = c.form1();
    c.w().control.Button4->click();
    form.Edit1->setText(QStringLiteral("50"));
    // The setup goes unheard; the identity read before it is answered.
    sim::FaultPlan silent;
    silent.noAnswer.probability = 1.0;
    silent.objects = {kObjectFactorySetup};
    c.OnInstrument([silent](sim::Device &device) { device.setFaults(silent); });
    const std::size_t before = c.wire->size();
    form.Button1->click();
    ASSERT_TRUE(SpinUntil([&] { return c.Heard(before, "W30"); }, 5s));
    ASSERT_TRUE(c.rig.Idle());
    EXPECT_EQ(c.w().control.Shape1->brushColour(), kStatusRed);
    EXPECT_EQ(form.Memory().lastSerialNumber, 0);
    // A new connection opens a new instrument, without the fault.
    c.window().ClosePort();
    ASSERT_TRUE(SpinUntil([&] { return !c.window().connection()->portOpen() && !c.window().connection()->busy(); }, 5s));
    ASSERT_TRUE(c.rig.Connect());
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
    CommandsRig c(FastScenario(), kFactoryArguments);
    ASSERT_TRUE(c.rig.Connect());
    TForm1 &form = c.form1();
    FactorySetupEntries last;
    last.serialNumber = 99999999;
    form.Confirm(last);
    c.w().control.Button4->click();
    EXPECT_EQ(form.Edit1->text(), QStringLiteral("100000000"));
    form.Button1->click();
    EXPECT_TRUE(form.isVisible());
    EXPECT_FALSE(form.Refusal->text().isEmpty());
    form.reject();
}

// ---- Calibration -------------------------------------------------------------

sim::Scenario CalibratingInstrument(bool fails)
{
    sim::Scenario scenario = FastScenario();
    scenario.exponent = -1;
    scenario.calibrationReads = 4;
    scenario.calibrationFails = fails;
    return scenario;
}

QColor ResultColour(const MainWidgets &w)
{
    return w.calibration.Edit6->palette().color(QPalette::Base);
}

TEST(CalibrationTab, SpanBeforeTheRangeTabRunsScaledToOkWithTheTabHeld)
{
    CommandsRig c(CalibratingInstrument(false));
    ASSERT_TRUE(c.rig.ConnectOn(InstrumentTab::Calibration));
    const CalibrationWidgets &cal = c.w().calibration;
    cal.Edit5->setText(QStringLiteral("50"));
    const std::size_t before = c.wire->size();
    cal.Button5->click();
    EXPECT_FALSE(cal.Button5->isEnabled());
    ASSERT_TRUE(SpinUntil([&] { return c.window().connection()->record().CalibrationRunning; }, 5s));
    std::vector<Heard> heard = c.wire->since(before);
    ASSERT_EQ(FrameNames(heard, 3), (Names{"R4", "R2", "W9"}));
    EXPECT_EQ(heard[2].payload, (Bytes{0xF4, 0x01}));

    // Running: the buttons stay disabled and the tab stays in front.
    ASSERT_TRUE(SpinUntil([&] { return cal.Edit6->text() == QStringLiteral("Running"); }, 5s));
    ExpectEnabled({cal.Button5, cal.Button6, cal.Button7}, false);
    const int calibrationTab = c.window().IndexOf(InstrumentTab::Calibration);
    EXPECT_FALSE(c.window().tabGuard().requestTab(c.window().IndexOf(InstrumentTab::General)));
    EXPECT_EQ(c.CurrentTab(), calibrationTab);
    QSet<QRgb> colours;
    ASSERT_TRUE(SpinUntil([&] {
        colours.insert(ResultColour(c.w()).rgb());
        return cal.Edit6->text() == QStringLiteral("OK");
    }, 5s));
    EXPECT_TRUE(colours.contains(kStatusYellow.rgb())) << "Running blinks yellow";
    EXPECT_EQ(ResultColour(c.w()), kStatusLimeGreen);
    EXPECT_FALSE(c.window().connection()->record().CalibrationRunning);
    EXPECT_EQ(c.State().calibration.gas, 500);

    // The end releases the tab; the first clock poll enables the buttons again.
    ASSERT_TRUE(SpinUntil([&] { return cal.Button5->isEnabled(); }, 5s));
    EXPECT_TRUE(cal.Button6->isEnabled() && cal.Button7->isEnabled());
    ASSERT_TRUE(c.rig.ShowTab(InstrumentTab::General));
    EXPECT_EQ(c.CurrentTab(), c.window().IndexOf(InstrumentTab::General));
}

TEST(CalibrationTab, ZeroRunsToErrorOnRed)
{
    CommandsRig c(CalibratingInstrument(true));
    ASSERT_TRUE(c.rig.ConnectOn(InstrumentTab::Calibration));
    const CalibrationWidgets &cal = c.w().calibration;
    const std::size_t before = c.wire->size();
    cal.Button7->click();
    ASSERT_TRUE(SpinUntil([&] { return cal.Edit6->text() == QStringLiteral("Error"); }, 5s));
    EXPECT_EQ(ResultColour(c.w()), kStatusRed);
    const std::vector<Heard> heard = c.wire->since(before);
    ASSERT_EQ(FrameNames(heard, 2), (Names{"R2", "W9"}));
    EXPECT_EQ(heard[1].payload, (Bytes{0x00, 0x00}));
    EXPECT_FALSE(c.window().connection()->record().CalibrationRunning);
    ASSERT_TRUE(c.rig.ShowTab(InstrumentTab::Range));
}

TEST(CalibrationTab, RefusedConcentrationsShowTheirMessageAndSendNoStart)
{
    CommandsRig c(CalibratingInstrument(false));
    ASSERT_TRUE(c.rig.ConnectOn(InstrumentTab::Range));
    ASSERT_TRUE(c.rig.ShowTab(InstrumentTab::Calibration));
    const CalibrationWidgets &cal = c.w().calibration;
    const std::size_t before = c.wire->size();
    struct Case {
        QString text;
        QString message; // empty: an error naming the problem
        QString error;
    };
    const Case cases[] = {
        {QStringLiteral("0"), kNoCalibrationGasText, {}},
        {QStringLiteral("0.04"), kNoCalibrationGasText, {}},
        {QStringLiteral("abc"), {}, QStringLiteral("'abc' is not a valid floating point value")},
        {QStringLiteral("-5"), {}, QStringLiteral("negative")},
        {QStringLiteral("4000"), {}, QStringLiteral("outside")},
    };
    for (const Case &k : cases) {
        c.rig.dialogs.messages.clear();
        c.rig.dialogs.errors.clear();
        cal.Edit5->setText(k.text);
        cal.Button5->click();
        ASSERT_TRUE(c.rig.Idle());
        c.rig.Idle();
        SpinFor(20ms);
        if (!k.message.isEmpty()) {
            EXPECT_EQ(c.rig.dialogs.messages, QStringList{k.message}) << k.text.toStdString();
        } else {
            ASSERT_EQ(c.rig.dialogs.errors.size(), 1) << k.text.toStdString();
            EXPECT_TRUE(c.rig.dialogs.errors.first().contains(k.error)) << c.rig.dialogs.errors.first().toStdString();
        }
        EXPECT_TRUE(cal.Button5->isEnabled()) << k.text.toStdString();
    }
    EXPECT_FALSE(c.Heard(before, "W9"));
    EXPECT_TRUE(c.rig.ShowTab(InstrumentTab::General)) << "a refused start does not hold the tab";
}

TEST(CalibrationTab, HornCheckSendsOnThenOff)
{
    CommandsRig c;
    ASSERT_TRUE(c.rig.Connect());
    const std::size_t before = c.wire->size();
    c.w().calibration.Button6->click();
    ASSERT_TRUE(c.rig.Idle());
    const std::vector<Heard> heard = c.wire->since(before);
    ASSERT_EQ(c.NamesSince(before), (Names{"R2", "W8", "R2", "W8"}));
    EXPECT_EQ(heard[1].payload, Bytes{1});
    EXPECT_EQ(heard[3].payload, Bytes{0});
}

// ---- Special functions -------------------------------------------------------

TEST(ServiceFunctionTab, StartSendsTheSelectedCodeAndNothingWithoutSelection)
{
    CommandsRig c;
    ASSERT_TRUE(c.rig.Connect());
    const SpecialFunctionWidgets &s = c.w().special;
    EXPECT_TRUE(s.Button9->isEnabled());
    std::size_t before = c.wire->size();
    s.Button9->click();
    ASSERT_TRUE(c.rig.Idle());
    EXPECT_FALSE(c.Heard(before, "W127"));

    c.rig.dialogs.questionAnswer = true; // "Reset" asks first
    s.Funktion->item(2)->click(); // "Reset"
    before = c.wire->size();
    s.Button9->click();
    ASSERT_TRUE(c.rig.Idle());
    const std::vector<Heard> heard = c.wire->since(before);
    ASSERT_EQ(FrameNames(heard, 2), (Names{"R2", "W127"}));
    EXPECT_EQ(heard[1].payload, Bytes{3});
    EXPECT_TRUE(c.window().connection()->portOpen());
}

TEST(ServiceFunctionTab, UpdateDisconnectsTheWindow)
{
    CommandsRig c;
    ASSERT_TRUE(c.rig.Connect());
    const SpecialFunctionWidgets &s = c.w().special;
    s.Funktion->item(4)->click(); // "Update"
    const std::size_t before = c.wire->size();
    s.Button9->click();
    ASSERT_TRUE(SpinUntil([&] { return !c.window().connection()->portOpen() && !c.window().connection()->busy(); }, 5s));
    const std::vector<Heard> heard = c.wire->since(before);
    ASSERT_EQ(FrameNames(heard, 2), (Names{"R2", "W127"}));
    EXPECT_EQ(heard[1].payload, Bytes{5});
    EXPECT_TRUE(c.w().control.Button12->isEnabled());
    EXPECT_TRUE(c.w().control.ComPortList->isEnabled());
    EXPECT_FALSE(c.window().connection()->record().InstrumentConnected);
    EXPECT_EQ(c.w().control.Shape1->brushColour(), kStatusRed);
    EXPECT_TRUE(c.w().general.Edit_DevSn->text().isEmpty());
}

TEST(ServiceFunctionTab, StartWithThePortClosedSaysSoAndSendsNothing)
{
    CommandsRig c;
    c.w().special.Funktion->item(1)->click();
    c.w().special.Button9->click();
    ASSERT_TRUE(c.rig.Idle());
    SpinFor(20ms);
    EXPECT_EQ(c.rig.dialogs.messages, QStringList{QStringLiteral("Comport nicht geöffnet!")});
    EXPECT_EQ(c.wire->size(), 0U);
}

} // namespace

int main(int argc, char **argv)
{
    return uitest::RunWidgetTests(argc, argv);
}
