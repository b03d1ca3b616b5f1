// The main window: its start state, connecting and disconnecting, what each
// tab reads and shows, the version gates, the change tracking, the keyboard,
// the busy cursor and the messages.
#include "UiRig.h"

#include <CommandLine.h>
#include <ConnectionLamp.h>
#include <ScreenshotTour.h>

#include <QStatusBar>

#include <thread>

namespace {

using namespace r310;
using namespace r310::ui;
using namespace uitest;
using Requests = std::vector<std::string>;

QColor Lamp(const MainWidgets &w)
{
    return w.control.Shape1->brushColour();
}

std::vector<QLineEdit *> ClearedFields(const MainWidgets &w)
{
    const GeneralWidgets &g = w.general;
    const RangeWidgets &r = w.range;
    const SignalsWidgets &s = w.signalTab;
    const HardwareWidgets &h = w.hardware;
    std::vector<QLineEdit *> fields{g.Edit_DevSn, g.Edit_Sver,  g.Edit_BatKap, g.Edit_CostId, g.Edit3, g.Edit4,
                                    r.Edit_MKTyp, r.Edit_MKSn,  r.Edit_NP,     r.Edit_FS,     r.Edit_MBE,
                                    r.Edit_GEGA,  r.Edit_Cal,   r.Edit7,       s.Edit_BeepTime, h.Edit_hwzpt,
                                    h.Edit_hwSpan, h.Edit_hwUref, w.calibration.Edit5, w.calibration.Edit6,
                                    s.Edit_DeltaBumpDay, s.Edit_NextBumpDate, s.EditBumpTests,
                                    s.Edit_DeltaCalDay, s.Edit_nextCalDate, w.events.Edit1, w.events.Edit2,
                                    w.events.Edit8, w.events.Edit9, w.logger.Edit10, w.logger.Edit11,
                                    w.logger.Edit12, w.logger.Edit13, w.logger.Edit14, w.logger.Edit15,
                                    w.logger.Edit16};
    for (const AlarmRow &row : r.alarms)
        fields.push_back(row.edit);
    return fields;
}

std::vector<QCheckBox *> ClearedBoxes(const MainWidgets &w)
{
    const SignalsWidgets &s = w.signalTab;
    const HardwareWidgets &h = w.hardware;
    std::vector<QCheckBox *> boxes{s.CheckBox12h,       s.CheckBoxShowTime, s.CheckBoxBumpAlarm, s.CheckBoxCalAlarm,
                                   h.CheckBox_KeyServ, h.CheckBoxNoVib,    h.CheckBoxonlybat};
    for (const AlarmRow &row : w.range.alarms) {
        boxes.push_back(row.fallBelow);
        boxes.push_back(row.latching);
        boxes.push_back(row.hornOff);
    }
    return boxes;
}

std::vector<RadioGroup *> ClearedGroups(const MainWidgets &w)
{
    const SignalsWidgets &s = w.signalTab;
    return {s.RadioGroup_Bsig, s.RadioGroup_VSig, s.RadioGroup_KSig, s.RadioGroup_Wup, s.RadioGroup_DateFmt,
            s.RadioGroup_Wakeup};
}

bool TabShown(const MainWidgets &w, QWidget *page)
{
    return w.PageControl1->isTabVisible(w.PageControl1->indexOf(page));
}

TEST(WindowStart, EveryWidgetByItsNameInItsStartState)
{
    WindowRig rig;
    TFo_R310 &window = rig.window();
    const MainWidgets &w = rig.w();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("R310 Konfiguration"));
    EXPECT_EQ(kApplicationTitle, QStringLiteral("R310 Configuration"));

    for (const char *name :
         {"Panel1", "Panel2", "StaticText1", "Image1", "Shape1", "ComPortList", "Button12", "Button_ClosePort",
          "Button3", "Button4", "PageControl1", "StatusBar1", "Edit_DevSn", "Edit_Sver", "Edit_BatKap",
          "Edit_CostId", "ButtonCostID", "Edit3", "Edit4", "ButtonTime", "Edit_MKTyp", "Edit_MKSn", "Edit_MBE",
          "Edit_GEGA", "Edit_NP", "Edit_FS", "Edit7", "Edit_A1", "Edit_A2", "Edit_A3", "Edit_AS", "Edit_AT",
          "CheckBox_A1U", "CheckBox_A3S", "CheckBox_ATH", "Edit_Cal", "ButtonSetGW", "RadioGroup_Bsig",
          "RadioGroup_VSig", "RadioGroup_KSig", "RadioGroup_Wup", "Edit_BeepTime", "RadioGroup_DateFmt",
          "RadioGroup_Wakeup", "CheckBox12h", "CheckBoxShowTime", "CheckBoxSek", "CheckBoxBumpAlarm",
          "Edit_DeltaBumpDay", "EditBumpTests", "Edit_NextBumpDate", "Edit_DeltaCalDay", "Edit_nextCalDate",
          "CheckBoxCalAlarm", "ButtonSetSig", "Edit_hwzpt", "Edit_hwSpan", "Edit_hwUref", "CheckBox_KeyServ",
          "CheckBoxNoVib", "CheckBoxonlybat", "CheckBoxSafety", "CheckBoxBestRes", "CheckBoxDspMode",
          "ButtonHWSet", "Edit5", "Edit6", "Button5", "Button6", "Button7", "Funktion", "Button9", "Edit1",
          "Edit2", "Edit8", "Edit9", "Button1", "Button2", "Edit10", "Edit11", "Edit12", "Edit13", "Edit14",
          "Edit15", "Edit16", "Button8", "Button10", "Button11", "ProgressBar1"})
        EXPECT_NE(window.findChild<QObject *>(QString::fromLatin1(name)), nullptr) << name;

    const QStringList captions{"&General",     "&Range",           "&Signals",         "&Hardware",
                               "Calibration",  "Special &Function", "Event properties", "Datalogging"};
    ASSERT_EQ(w.PageControl1->count(), 8);
    for (int i = 0; i < 8; ++i) {
        EXPECT_EQ(w.PageControl1->tabText(i), captions.at(i));
        EXPECT_EQ(w.PageControl1->widget(i)->objectName(), QStringLiteral("TabSheet%1").arg(i + 1));
    }
    EXPECT_EQ(w.PageControl1->currentIndex(), 0);

    // The port controls, closed.
    EXPECT_EQ(w.control.ComPortList->count(), 2);
    EXPECT_EQ(w.control.ComPortList->itemText(0), QStringLiteral("<none>"));
    EXPECT_EQ(w.control.ComPortList->currentText(), QStringLiteral("sim"));
    ExpectEnabled({w.control.ComPortList, w.control.Button12}, true);
    EXPECT_FALSE(w.control.Button_ClosePort->isEnabled());
    EXPECT_TRUE(w.control.Button4->isHidden());
    EXPECT_EQ(Lamp(w), kStatusRed);

    ExpectEnabled({w.general.ButtonCostID, w.range.ButtonSetGW, w.signalTab.ButtonSetSig, w.hardware.ButtonHWSet,
                   w.calibration.Button5, w.calibration.Button6, w.calibration.Button7, w.hardware.CheckBoxSafety,
                   w.hardware.CheckBoxBestRes, w.hardware.CheckBoxDspMode},
                  false);
    EXPECT_TRUE(w.signalTab.CheckBoxCalAlarm->isHidden());
    EXPECT_EQ(w.special.Funktion->itemIndex(), -1);
    EXPECT_EQ(w.special.Funktion->count(), 6);
    ExpectTexts({{w.calibration.Edit5, ""}, {w.calibration.Edit6, ""}});
    EXPECT_EQ(w.hardware.CheckBoxDspMode->toolTip(),
              QStringLiteral("For O2 Min Value added,  for H2 Max Value added, any other TWA is added"));

    for (QLineEdit *shown : {w.general.Edit_DevSn, w.general.Edit3, w.range.Edit7, w.signalTab.Edit_NextBumpDate,
                             w.signalTab.Edit_nextCalDate, w.hardware.Edit_hwzpt, w.events.Edit1, w.logger.Edit12})
        EXPECT_TRUE(shown->isReadOnly()) << shown->objectName().toStdString();
    for (QLineEdit *typed : {w.general.Edit_CostId, w.range.Edit_Cal, w.signalTab.Edit_BeepTime,
                             w.signalTab.EditBumpTests, w.calibration.Edit5, w.events.Edit9, w.logger.Edit13})
        EXPECT_FALSE(typed->isReadOnly()) << typed->objectName().toStdString();

    EXPECT_EQ(w.logger.ProgressBar1->maximum(), 100);
    EXPECT_EQ(w.header.Image1->size(), QSize(83, 71));

    // The window keeps the designed proportions; the exchange panel takes
    // the width the phase panel leaves.
    EXPECT_NEAR(double(window.width()) / window.height(), 679.0 / 484.0, 0.02);
    EXPECT_EQ(w.status.panels[0]->width(), 150);
    EXPECT_GT(w.status.panels[1]->width(), window.width() / 2);
    EXPECT_TRUE(w.status.panels[0]->text().isEmpty());
    EXPECT_TRUE(w.status.panels[1]->text().isEmpty());
    EXPECT_EQ(rig.line->size(), 0u);
}

TEST(WindowStart, FactorySwitchAsFirstArgumentInAnyCase)
{
    const struct {
        QStringList arguments;
        bool setupShown;
    } cases[] = {
        {{"R310Conf", "/pr"}, true},           {{"R310Conf", "/PR"}, true},
        {{"R310Conf", "/Pr", "--port", "sim"}, true}, {{"R310Conf"}, false},
        {{"R310Conf", "/prx"}, false},         {{"R310Conf", "--port", "sim", "/pr"}, false},
    };
    for (const auto &c : cases) {
        RigOptions options;
        options.arguments = c.arguments;
        WindowRig rig(options);
        EXPECT_EQ(!rig.w().control.Button4->isHidden(), c.setupShown) << c.arguments.join(' ').toStdString();
        EXPECT_EQ(rig.w().control.Button4->text(), QStringLiteral("Setup"));
    }
}

TEST(WindowConnection, OpenPortShowsIdentityClocksLampAndClearSetButtons)
{
    WindowRig rig;
    const MainWidgets &w = rig.w();
    ASSERT_TRUE(rig.Connect());

    const Requests heard = rig.heard();
    ASSERT_GE(heard.size(), 6u);
    EXPECT_EQ(Requests(heard.begin(), heard.begin() + 6), (Requests{"C1", "C1", "R2", "R3", "R7", "R2"}));

    ExpectTexts({{w.general.Edit_DevSn, "00001234"}, {w.general.Edit_Sver, "2.21"}, {w.general.Edit_BatKap, "87"},
                 {w.general.Edit_CostId, "DEMO"}, {w.range.Edit_MKTyp, "103-01"}, {w.range.Edit_MKSn, "4711"}});
    for (const QLineEdit *clock : {w.general.Edit3, w.general.Edit4, w.range.Edit7})
        EXPECT_FALSE(clock->text().isEmpty()) << clock->objectName().toStdString();
    EXPECT_EQ(Lamp(w), kStatusLimeGreen);
    EXPECT_EQ(w.status.panels[0]->text(), QStringLiteral("Connect"));

    ExpectEnabled({w.calibration.Button5, w.calibration.Button6, w.calibration.Button7,
                   w.control.Button_ClosePort}, true);
    ExpectEnabled({w.general.ButtonCostID, w.control.ComPortList, w.control.Button12}, false);
    EXPECT_EQ(rig.rememberedPort(), QStringLiteral("sim"));
    EXPECT_TRUE(rig.dialogs.errors.isEmpty());

    // The idle poll goes on reading clock and value.
    const std::size_t before = rig.line->size();
    ASSERT_TRUE(SpinUntil([&] { return rig.line->size() >= before + 4; }, 3s));
    const Requests poll = rig.heard(before);
    EXPECT_EQ(Requests(poll.begin(), poll.begin() + 2), (Requests{"R3", "R7"}));
}

TEST(WindowConnection, CloseComportClearsTheListedFieldsAndKeepsTheHardwareSetButton)
{
    WindowRig rig;
    const MainWidgets &w = rig.w();
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::Range));
    ASSERT_TRUE(rig.ShowTab(InstrumentTab::Signals));
    ASSERT_TRUE(rig.ShowTab(InstrumentTab::Hardware));
    ASSERT_EQ(w.hardware.Edit_hwzpt->text(), QStringLiteral("130.5"));
    w.hardware.CheckBoxNoVib->click();
    ASSERT_TRUE(w.hardware.ButtonHWSet->isEnabled());
    w.range.alarms[0].latching->click();
    w.signalTab.CheckBoxSek->click();
    QTest::keyClicks(w.general.Edit_CostId, QStringLiteral("X"));
    ASSERT_TRUE(w.general.ButtonCostID->isEnabled() && w.range.ButtonSetGW->isEnabled()
                && w.signalTab.ButtonSetSig->isEnabled());

    ASSERT_TRUE(rig.ClosePort());
    const std::size_t heardAtClose = rig.line->size();

    for (QLineEdit *field : ClearedFields(w))
        EXPECT_TRUE(field->text().isEmpty()) << field->objectName().toStdString();
    for (QCheckBox *box : ClearedBoxes(w))
        EXPECT_FALSE(box->isChecked()) << box->objectName().toStdString();
    for (RadioGroup *group : ClearedGroups(w))
        EXPECT_EQ(group->itemIndex(), -1) << group->objectName().toStdString();
    ExpectEnabled({w.general.ButtonCostID, w.range.ButtonSetGW, w.signalTab.ButtonSetSig, w.calibration.Button5,
                   w.calibration.Button6, w.calibration.Button7},
                  false);
    ExpectEnabled({w.hardware.ButtonHWSet, w.control.ComPortList, w.control.Button12, w.control.Button_ClosePort},
                  true);
    EXPECT_EQ(Lamp(w), kStatusRed);
    EXPECT_TRUE(w.status.panels[0]->text().isEmpty());
    EXPECT_TRUE(w.status.panels[1]->text().isEmpty()
                || w.status.panels[1]->text() == QStringLiteral("Cancel by User"));

    SpinFor(200ms);
    EXPECT_EQ(rig.line->size(), heardAtClose) << "requests after the port was closed";
}

TEST(WindowTabs, TabChangesBeforeConnectingSendNothing)
{
    WindowRig rig;
    QTabWidget &tabs = *rig.w().PageControl1;
    for (int i = 1; i < tabs.count(); ++i) {
        ASSERT_TRUE(rig.window().tabGuard().requestTab(i));
        ASSERT_TRUE(rig.Idle());
    }
    ASSERT_TRUE(rig.window().tabGuard().requestTab(0));
    SpinFor(100ms);
    EXPECT_EQ(rig.line->size(), 0u);
    EXPECT_TRUE(rig.dialogs.messages.isEmpty());
    EXPECT_TRUE(rig.dialogs.errors.isEmpty());
}

TEST(WindowTabs, EnteringEachTabReadsItsObjectsAndShowsThem)
{
    RigOptions options;
    options.idlePoll = false;
    WindowRig rig(options);
    const MainWidgets &w = rig.w();
    ASSERT_TRUE(rig.Connect());

    const std::pair<InstrumentTab, Requests> tabs[] = {
        {InstrumentTab::Range, {"R4"}},
        {InstrumentTab::Signals, {"R31"}},
        {InstrumentTab::Hardware, {"R33"}},
        {InstrumentTab::Calibration, {}},
        {InstrumentTab::SpecialFunction, {}},
        {InstrumentTab::EventProperties, {"R35", "R36"}},
        {InstrumentTab::Datalogging, {"R35", "R36"}},
        {InstrumentTab::General, {"R2"}},
    };
    for (const auto &[tab, expected] : tabs) {
        const std::size_t before = rig.line->size();
        ASSERT_TRUE(rig.ShowTab(tab));
        EXPECT_EQ(rig.heard(before), expected) << "tab " << static_cast<int>(tab);
    }

    const RangeWidgets &r = w.range;
    ExpectTexts({{r.Edit_MBE, "500"}, {r.Edit_GEGA, "unit0 gas1"}, {r.Edit_NP, "0.52"}, {r.Edit_FS, "12.40"},
                 {r.Edit_Cal, "100"}});
    ExpectTexts({{r.alarms[0].edit, "30"}, {r.alarms[1].edit, "60"}, {r.alarms[2].edit, "150"},
                 {r.alarms[3].edit, "100"}, {r.alarms[4].edit, "30"}});
    EXPECT_TRUE(r.alarms[0].hornOff->isChecked());
    EXPECT_FALSE(r.alarms[0].latching->isChecked());
    EXPECT_TRUE(r.alarms[1].latching->isChecked());
    EXPECT_FALSE(r.alarms[1].fallBelow->isChecked());

    const SignalsWidgets &s = w.signalTab;
    const std::pair<const RadioGroup *, int> items[] = {{s.RadioGroup_Bsig, 1},   {s.RadioGroup_VSig, 1},
                                                        {s.RadioGroup_KSig, 1},   {s.RadioGroup_Wup, 2},
                                                        {s.RadioGroup_Wakeup, 1}, {s.RadioGroup_DateFmt, 0}};
    for (const auto &[group, item] : items)
        EXPECT_EQ(group->itemIndex(), item) << group->objectName().toStdString();
    ExpectTexts({{s.Edit_BeepTime, "30"}, {s.Edit_DeltaBumpDay, "30"}, {s.Edit_DeltaCalDay, "180"},
                 {s.EditBumpTests, "1"}});
    EXPECT_TRUE(s.CheckBoxShowTime->isChecked() && s.CheckBoxBumpAlarm->isChecked());
    EXPECT_FALSE(s.CheckBox12h->isChecked());
    EXPECT_FALSE(s.Edit_NextBumpDate->text().isEmpty());

    const HardwareWidgets &h = w.hardware;
    ExpectTexts({{h.Edit_hwzpt, "130.5"}, {h.Edit_hwSpan, "7.50"}, {h.Edit_hwUref, "1899.5"}});
    EXPECT_TRUE(h.CheckBox_KeyServ->isChecked());
    EXPECT_FALSE(h.CheckBoxNoVib->isChecked());

    // Each read left its group clean.
    ExpectEnabled({w.general.ButtonCostID, w.range.ButtonSetGW, w.signalTab.ButtonSetSig,
                   w.hardware.ButtonHWSet}, false);
}

TEST(WindowTabs, SoftwareVersionGatesTabsFieldsAndOptions)
{
    const struct {
        std::uint16_t version;
        bool events, logger, maxEditable, safety, display;
    } versions[] = {
        {209, false, false, false, false, false}, {210, true, false, false, false, false},
        {211, true, true, true, false, false},    {220, true, true, true, true, false},
        {221, true, true, true, true, true},
    };
    for (const auto &v : versions) {
        SCOPED_TRACE(v.version);
        RigOptions options;
        options.scenario = FastScenario(v.version);
        options.idlePoll = false;
        WindowRig rig(options);
        const MainWidgets &w = rig.w();
        const auto expectTabs = [&] {
            EXPECT_EQ(TabShown(w, w.events.TabSheet7), v.events);
            EXPECT_EQ(TabShown(w, w.logger.TabSheet8), v.logger);
        };
        ASSERT_TRUE(rig.Connect());
        expectTabs();
        EXPECT_EQ(!w.events.Edit9->isReadOnly(), v.maxEditable);
        ExpectEnabled({w.hardware.CheckBoxSafety, w.hardware.CheckBoxBestRes}, v.safety);
        EXPECT_EQ(w.hardware.CheckBoxDspMode->isEnabled(), v.display);
        // The tabs keep their visibility while no instrument is connected.
        w.control.Button_ClosePort->click();
        ASSERT_TRUE(rig.Idle());
        expectTabs();
    }
}

TEST(WindowDisplay, ResultStatusBlinksAndGatedOptionsKeepTheirStateWhileDisabled)
{
    WindowRig rig;
    const MainWidgets &w = rig.w();
    InstrumentDisplay &display = rig.window().display();
    const auto result = [&](const QString &text, StatusBackground background) {
        DecodedAnswer answer;
        answer.status = StatusReport{text, background};
        display.ShowAnswer(answer);
        return w.calibration.Edit6->palette().color(QPalette::Base);
    };
    const QColor window = w.calibration.TabSheet5->palette().color(QPalette::Base);
    // "Running" blinks: yellow, the window's colour, yellow again.
    for (const QColor &blink : {kStatusYellow, window, kStatusYellow})
        EXPECT_EQ(result(QStringLiteral("Running"), StatusBackground::Blink), blink);
    EXPECT_EQ(w.calibration.Edit6->text(), QStringLiteral("Running"));
    EXPECT_EQ(result(QStringLiteral("OK"), StatusBackground::LimeGreen), kStatusLimeGreen);
    EXPECT_EQ(result(QStringLiteral("Error"), StatusBackground::Red), kStatusRed);
    display.ResetResultBackground();
    EXPECT_EQ(w.calibration.Edit6->palette().color(QPalette::Base), window);

    // A ten-character customer ID shows whole, though typing stops at nine.
    DecodedAnswer identity;
    identity.identity = IdentityValues{};
    identity.identity->customerId = QStringLiteral("ABCDEFGHIJ");
    identity.identity->gates = GatesForVersion(219);
    display.ShowAnswer(identity);
    EXPECT_EQ(w.general.Edit_CostId->text(), QStringLiteral("ABCDEFGHIJ"));

    // Gated options that the version keeps disabled keep their state.
    w.hardware.CheckBoxSafety->setChecked(true);
    DecodedAnswer hardware;
    hardware.hardware = HardwareSettings{};
    hardware.hardware->applyDisplayMode = true;
    hardware.unchangedGroup = SettingsGroup::Hardware;
    rig.window().changes().MarkChanged(SettingsGroup::Hardware);
    display.ShowAnswer(hardware);
    EXPECT_TRUE(w.hardware.CheckBoxSafety->isChecked());
    EXPECT_TRUE(w.hardware.CheckBoxDspMode->isChecked());
    EXPECT_FALSE(w.hardware.ButtonHWSet->isEnabled());
}

TEST(WindowChanges, UserEditsMarkTheirGroupAndAReadLeavesItClean)
{
    WindowRig rig;
    const MainWidgets &w = rig.w();
    // The marks alone: leaving a tab writes nothing here (the writes of
    // leaving a tab have tests of their own).
    for (const InstrumentTab tab : {InstrumentTab::General, InstrumentTab::Range, InstrumentTab::Signals,
                                    InstrumentTab::Hardware})
        rig.window().SetLeaveHandler(tab, nullptr);
    ASSERT_TRUE(rig.Connect());

    QTest::keyClicks(w.general.Edit_CostId, QStringLiteral("7"));
    EXPECT_TRUE(w.general.ButtonCostID->isEnabled());
    EXPECT_FALSE(w.range.ButtonSetGW->isEnabled());

    ASSERT_TRUE(rig.ShowTab(InstrumentTab::Range));
    EXPECT_FALSE(w.range.ButtonSetGW->isEnabled());
    w.range.alarms[2].fallBelow->click();
    EXPECT_TRUE(w.range.ButtonSetGW->isEnabled());

    ASSERT_TRUE(rig.ShowTab(InstrumentTab::Signals));
    EXPECT_FALSE(w.signalTab.ButtonSetSig->isEnabled());
    w.signalTab.RadioGroup_VSig->item(3)->click();
    EXPECT_TRUE(w.signalTab.ButtonSetSig->isEnabled());

    ASSERT_TRUE(rig.ShowTab(InstrumentTab::Hardware));
    QTest::keyClicks(w.hardware.Edit_hwzpt, QStringLiteral("1"));
    EXPECT_FALSE(w.hardware.ButtonHWSet->isEnabled()) << "a read-only field takes no typing";
    w.hardware.CheckBoxonlybat->click();
    EXPECT_TRUE(w.hardware.ButtonHWSet->isEnabled());

    // A change the program makes for the user (a field check's default) marks the group too.
    rig.window().changes().MarkChanged(SettingsGroup::Signals);
    EXPECT_TRUE(w.signalTab.ButtonSetSig->isEnabled());

    // Reading a group again shows the instrument's values and clears its mark.
    ASSERT_TRUE(rig.ShowTab(InstrumentTab::General));
    EXPECT_EQ(w.general.Edit_CostId->text(), QStringLiteral("DEMO"));
    EXPECT_FALSE(w.general.ButtonCostID->isEnabled());
    ASSERT_TRUE(rig.ShowTab(InstrumentTab::Range));
    EXPECT_FALSE(w.range.alarms[2].fallBelow->isChecked());
    EXPECT_FALSE(w.range.ButtonSetGW->isEnabled());
    ASSERT_TRUE(rig.ShowTab(InstrumentTab::Hardware));
    EXPECT_FALSE(w.hardware.CheckBoxonlybat->isChecked());
    EXPECT_FALSE(w.hardware.ButtonHWSet->isEnabled());
    EXPECT_TRUE(w.signalTab.ButtonSetSig->isEnabled()) << "a group not read again keeps its mark";
}

TEST(WindowStatus, ErrorReportsCountInTheExchangePanel)
{
    RigOptions options;
    options.idlePoll = false;
    // Every identity read is answered with an error report: the connect
    // sequence's and the General tab's.
    options.scenario.faults.errorReport.probability = 1.0;
    options.scenario.faults.objects = {kObjectIdentity};
    WindowRig rig(options);
    ASSERT_TRUE(rig.Connect());
    EXPECT_EQ(rig.w().status.panels[1]->text(), QStringLiteral("ERROR Count= 2"));
    EXPECT_TRUE(rig.w().general.Edit_DevSn->text().isEmpty());
}

TEST(WindowTabs, ChangingAsksTheRuleFirstForEveryWayOfAsking)
{
    WindowRig rig;
    TFo_R310 &window = rig.window();
    QTabWidget &tabs = *rig.w().PageControl1;
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    std::vector<std::pair<int, int>> asked;
    bool allow = false;
    window.SetTabChangeRule([&](int from, int to) {
        EXPECT_EQ(tabs.currentIndex(), from) << "asked after the change";
        asked.emplace_back(from, to);
        return allow;
    });
    QTabBar &bar = *tabs.tabBar();
    const auto clickTab = [&](int index) {
        QTest::mouseClick(&bar, Qt::LeftButton, {}, bar.tabRect(index).center());
        SpinFor(20ms);
    };

    clickTab(1);
    rig.Press(Qt::Key_S, Qt::AltModifier);
    rig.Press(Qt::Key_Tab, Qt::ControlModifier);
    rig.Press(Qt::Key_Tab, Qt::ControlModifier | Qt::ShiftModifier);
    bar.setFocus();
    rig.Press(Qt::Key_Right, Qt::NoModifier);
    EXPECT_EQ(tabs.currentIndex(), 0);
    EXPECT_EQ(asked, (std::vector<std::pair<int, int>>{{0, 1}, {0, 2}, {0, 1}, {0, 7}, {0, 1}}));

    allow = true;
    clickTab(1);
    EXPECT_EQ(tabs.currentIndex(), 1);
    rig.Press(Qt::Key_H, Qt::AltModifier);
    EXPECT_EQ(tabs.currentIndex(), 3);
    rig.Press(Qt::Key_Tab, Qt::ControlModifier);
    EXPECT_EQ(tabs.currentIndex(), 4);
    rig.Press(Qt::Key_Tab, Qt::ControlModifier | Qt::ShiftModifier);
    EXPECT_EQ(tabs.currentIndex(), 3);
    EXPECT_EQ(asked.size(), 9u);
}

TEST(WindowKeyboard, AcceleratorsDriveTheWindowAndAltEOnHardwareDoesNotExit)
{
    WindowRig rig;
    TFo_R310 &window = rig.window();
    const MainWidgets &w = rig.w();
    window.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&window));

    rig.Press(Qt::Key_O, Qt::AltModifier);
    ASSERT_TRUE(SpinUntil([&] { return window.connection()->phase() == ConnectionPhase::Connected; }, 5s));
    rig.Press(Qt::Key_H, Qt::AltModifier);
    EXPECT_EQ(w.PageControl1->currentWidget(), w.hardware.TabSheet4);
    ASSERT_TRUE(rig.Idle());
    rig.Press(Qt::Key_E, Qt::AltModifier);
    EXPECT_TRUE(window.isVisible());
    EXPECT_NE(window.connection(), nullptr);

    w.hardware.CheckBoxNoVib->click();
    rig.Press(Qt::Key_R, Qt::AltModifier);
    EXPECT_EQ(w.PageControl1->currentWidget(), w.range.TabSheet2);
    rig.Press(Qt::Key_C, Qt::AltModifier);
    ASSERT_TRUE(SpinUntil([&] { return !window.connection()->portOpen(); }, 5s));
    EXPECT_TRUE(w.control.Button12->isEnabled());
    rig.Press(Qt::Key_E, Qt::AltModifier);
    EXPECT_FALSE(window.isVisible());
    EXPECT_EQ(window.connection(), nullptr);
}

TEST(WindowBusy, ALongJobShowsTheBusyCursorAndTheSearchDoesNot)
{
    WindowRig rig;
    TFo_R310 &window = rig.window();
    ASSERT_TRUE(rig.Connect());
    window.connection()->submit(QStringLiteral("slow"), [](JobContext &) { std::this_thread::sleep_for(600ms); });
    SpinFor(150ms);
    EXPECT_EQ(window.cursor().shape(), Qt::ArrowCursor);
    EXPECT_TRUE(SpinUntil([&] { return window.cursor().shape() == Qt::BusyCursor; }, 1s));
    ASSERT_TRUE(rig.Idle());
    EXPECT_EQ(window.cursor().shape(), Qt::ArrowCursor);

    RigOptions silent;
    silent.scenario.faults.noAnswer.probability = 1.0;
    WindowRig searching(silent);
    searching.window().OpenPort();
    SpinFor(600ms);
    EXPECT_EQ(searching.w().status.panels[0]->text(), QStringLiteral("Search"));
    EXPECT_EQ(searching.window().cursor().shape(), Qt::ArrowCursor);
}

class RefusingPort : public SerialBackend {
public:
    bool open() override { return false; }
    void close() override {}
    bool isOpen() const override { return false; }
    bool write(const QByteArray &) override { return false; }
    QByteArray readAll() override { return {}; }
    qint64 bytesAvailable() const override { return 0; }
    qint64 bytesToWrite() const override { return 0; }
    QString errorString() const override { return QStringLiteral("Permission denied"); }
};

TEST(WindowMessages, APortThatDoesNotOpenIsReportedAndLeavesThePortControlsClosed)
{
    RigOptions options;
    options.link = [](const QString &, const LineSettings &) { return std::make_unique<RefusingPort>(); };
    WindowRig rig(options);
    const MainWidgets &w = rig.w();
    rig.window().OpenPort();
    ASSERT_TRUE(SpinUntil([&] { return !rig.dialogs.errors.isEmpty(); }, 5s));
    ASSERT_TRUE(rig.Idle());
    EXPECT_TRUE(rig.dialogs.errors.first().contains(QStringLiteral("Permission denied")));
    EXPECT_TRUE(w.control.ComPortList->isEnabled());
    EXPECT_TRUE(w.control.Button12->isEnabled());
    EXPECT_FALSE(w.control.Button_ClosePort->isEnabled());
    EXPECT_TRUE(rig.rememberedPort().isEmpty());

    // A full stop ends the text unless a mark ends it already.
    for (const auto &[text, shown] :
         {std::pair{"'x' is not a valid integer value", "'x' is not a valid integer value."},
          std::pair{"Comport nicht geöffnet!", "Comport nicht geöffnet!"}, std::pair{"done.", "done."}})
        EXPECT_EQ(ApplicationErrorText(QString::fromUtf8(text)), QString::fromUtf8(shown));
}

TEST(WindowHeader, TheShippedPictureShowsAndADamagedOneLeavesTheHeaderBlank)
{
    QTemporaryDir directory;
    const QString shipped = qEnvironmentVariable("R310_BUILD_DIR") + QStringLiteral("/R310.jpg");
    ASSERT_TRUE(QFile::exists(shipped)) << "the build places R310.jpg beside the programs";
    QFile original(shipped);
    ASSERT_TRUE(original.open(QIODevice::ReadOnly));
    const QByteArray bytes = original.readAll();
    const QString truncated = directory.filePath(QStringLiteral("truncated.jpg"));
    const QString garbage = directory.filePath(QStringLiteral("garbage.jpg"));
    ASSERT_TRUE(WriteFile(truncated, bytes.left(bytes.size() / 3)) && WriteFile(garbage, QByteArray(4096, '\x5a')));

    for (const QString &path : {shipped, truncated, garbage, directory.filePath(QStringLiteral("missing.jpg"))}) {
        RigOptions options;
        options.picturePath = path;
        WindowRig rig(options);
        const QPixmap picture = rig.w().header.Image1->pixmap();
        EXPECT_EQ(!picture.isNull(), path == shipped) << path.toStdString();
        EXPECT_EQ(rig.w().header.Image1->size(), QSize(83, 71));
        EXPECT_TRUE(rig.Connect()) << "the program runs on with a blank header";
    }
}

TEST(WindowDemo, TheSimulatedInstrumentIsPreselectedAndNotRemembered)
{
    EnsureWidgetApplication();
    RecordingDialogs dialogs;
    QTemporaryDir directory;
    const QString store = directory.filePath(QStringLiteral("user.ini"));
    WindowSetup setup;
    setup.arguments = {QStringLiteral("R310Conf"), QStringLiteral("--demo")};
    setup.portSettings = std::make_unique<QSettings>(store, QSettings::IniFormat);
    setup.connection.tick = 10ms;
    setup.demoLink = [](const QString &, const LineSettings &) {
        auto link = std::make_unique<sim::SimBackend>(FastScenario());
        link->setPacing(false);
        return link;
    };
    setup.dialogs = &dialogs;
    TFo_R310 window(std::move(setup));
    EXPECT_EQ(window.widgets().control.ComPortList->currentText(), kDemoPortEntry);
    // The status bar says what the entry is; once open, the title says it.
    EXPECT_TRUE(window.widgets().status.StatusBar1->currentMessage().contains(QLatin1String("simulated instrument")));
    window.OpenPort();
    const QLineEdit &serial = *window.widgets().general.Edit_DevSn;
    ASSERT_TRUE(SpinUntil([&] { return serial.text() == QLatin1String("00001234"); }, 5s));
    EXPECT_FALSE(QSettings(store, QSettings::IniFormat).contains(QStringLiteral("Port")));
    EXPECT_EQ(window.windowTitle(), QStringLiteral("R310 Konfiguration – simulated instrument"));
    window.ClosePort();
    EXPECT_EQ(window.windowTitle(), QStringLiteral("R310 Konfiguration"));
}

TEST(ProgramCommandLine, OptionsUsageErrorsAndPictureNames)
{
    const CommandLine full = ParseCommandLine(
        {"R310Conf", "/PR", "--port", "/dev/pts/4", "--demo", "--screenshot=shots"});
    EXPECT_TRUE(full.error.isEmpty());
    EXPECT_EQ(full.port, QStringLiteral("/dev/pts/4"));
    EXPECT_TRUE(full.demo);
    EXPECT_EQ(full.screenshotDir, QStringLiteral("shots"));
    EXPECT_FALSE(full.help);
    EXPECT_TRUE(ParseCommandLine({"R310Conf", "--help"}).help);
    for (const QStringList &wrong : {QStringList{"R310Conf", "--port"}, QStringList{"R310Conf", "--colour"},
                                     QStringList{"R310Conf", "--demo", "extra"}})
        EXPECT_FALSE(ParseCommandLine(wrong).error.isEmpty()) << wrong.join(u' ').toStdString();
    EXPECT_TRUE(UsageText().startsWith(
        QStringLiteral("Usage: R310Conf [/pr] [--port DEVICE] [--demo] [--screenshot DIR]")));

    EXPECT_EQ(ScreenshotFileName(InstrumentTab::General), QStringLiteral("general.png"));
    EXPECT_EQ(ScreenshotFileName(InstrumentTab::SpecialFunction), QStringLiteral("service-functions.png"));
    EXPECT_EQ(ScreenshotFileName(InstrumentTab::EventProperties), QStringLiteral("event-properties.png"));
}

} // namespace
