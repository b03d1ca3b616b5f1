// The window when the port goes away or another instrument is put on it: one
// message, the port closed in every widget and ready to open the same name
// again; and alarm limits typed for one instrument never reach the next.
#include "Shelf.h"
#include "UiRig.h"

using namespace r310;
using namespace r310::ui;
using namespace uitest;
using r310test::InstrumentA;
using r310test::InstrumentB;
using r310test::Shelf;

namespace {

sim::Scenario WithLogger()
{
    sim::Scenario scenario = FastScenario();
    scenario.loggerBlocks = 40;
    return scenario;
}

// The cradle's instruments: the first open meets A, every later one B.
std::shared_ptr<Shelf> Cradle()
{
    return std::make_shared<Shelf>(std::vector<sim::Scenario>{InstrumentA(WithLogger()), InstrumentB(WithLogger())});
}

RigOptions OnCradle(const std::shared_ptr<Shelf> &cradle)
{
    RigOptions options;
    options.link = cradle->link(cradle);
    options.idlePoll = false;
    return options;
}

bool PortControlsUsable(const MainWidgets &w)
{
    return w.control.Button12->isEnabled() && w.control.ComPortList->isEnabled();
}

void ExpectClosedAfterOneMessage(WindowRig &rig)
{
    ASSERT_TRUE(SpinUntil([&] { return PortControlsUsable(rig.w()) && rig.Idle(); }, 1s))
        << "the port list and \"&Open Port\" stay disabled";
    SpinFor(100ms);
    EXPECT_EQ(rig.dialogs.errors.size() + rig.dialogs.messages.size(), 1)
        << (rig.dialogs.errors + rig.dialogs.messages).join(" | ").toStdString();
    EXPECT_FALSE(rig.window().connection()->portOpen());
    EXPECT_EQ(rig.w().status.panels[0]->text(), QStringLiteral("Port closed"));
    EXPECT_EQ(rig.w().status.panels[1]->text(), rig.dialogs.errors.value(0)) << "the status bar says what happened";
}

TEST(PortLoss, PulledAdapterClosesThePortEverywhereAndTheSameNameOpensTheNextInstrument)
{
    const std::shared_ptr<Shelf> cradle = Cradle();
    WindowRig rig(OnCradle(cradle));
    ASSERT_TRUE(rig.Connect());
    ASSERT_EQ(rig.w().general.Edit_DevSn->text(), QStringLiteral("00001234"));

    cradle->onEngine([](sim::SimBackend &link) { link.unplug(); });
    ExpectClosedAfterOneMessage(rig);

    ASSERT_TRUE(rig.Connect()) << "\"&Open Port\" opens the same name again";
    EXPECT_EQ(rig.w().general.Edit_DevSn->text(), QStringLiteral("00005678"));
    EXPECT_EQ(rig.dialogs.errors.size(), 1);
}

TEST(PortLoss, PulledDuringALoggerDownloadGivesOneMessage)
{
    const std::shared_ptr<Shelf> cradle = Cradle();
    WindowRig rig(OnCradle(cradle));
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::Datalogging));
    std::atomic<int> blockReads{0};
    cradle->onTrace = [&blockReads](Shelf &shelf, const sim::TraceEntry &entry) {
        if (entry.kind == sim::TraceEntry::Kind::Request && entry.bytes[kOffsetObject] == kObjectLoggerBlock
            && ++blockReads == 10)
            shelf.onEngine([](sim::SimBackend &link) { link.unplug(); });
    };
    rig.w().logger.Button8->click();
    ExpectClosedAfterOneMessage(rig);
    EXPECT_GE(blockReads, 10);
}

TEST(InstrumentSwap, LimitsTypedForOneInstrumentAreNotWrittenToTheNextOnTheSamePort)
{
    const std::shared_ptr<Shelf> cradle = Cradle();
    WindowRig rig(OnCradle(cradle));
    const MainWidgets &w = rig.w();
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::Range));
    ASSERT_EQ(w.range.alarms[1].edit->text(), QStringLiteral("60"));

    // B is put on the cradle; the window still shows A.
    cradle->onEngine([](sim::SimBackend &link) { link.device().state() = sim::Device(InstrumentB(WithLogger())).state(); });
    SpinFor(50ms);
    QLineEdit *a2 = w.range.alarms[1].edit;
    Type(a2, QStringLiteral("61"));
    const std::size_t writesBefore = cradle->writes();
    w.range.ButtonSetGW->click();
    ASSERT_TRUE(SpinUntil([&] { return rig.Idle() && !rig.dialogs.errors.isEmpty(); }, 5s));
    SpinFor(50ms);

    EXPECT_EQ(cradle->writes(), writesBefore) << "B received a write";
    EXPECT_EQ(cradle->backend()->device().state().range.thresholds[1], 600);
    EXPECT_EQ(rig.dialogs.errors,
              QStringList{QString::fromUtf8("The instrument changed (serial 1234 → 5678); nothing was written.")});
    EXPECT_EQ(w.general.Edit_DevSn->text(), QStringLiteral("00005678")) << "B is read as after a connect";
    EXPECT_EQ(w.range.alarms[1].edit->text(), QStringLiteral("60.0")) << "the Range tab shows B";
}

} // namespace
