// The window when the port goes away or another instrument is put on it: one
// message, the port closed in every widget and ready to open the same name
// again; and alarm limits typed for one instrument never reach the next.
#include "UiRig.h"

using namespace r310;
using namespace r310::ui;
using namespace uitest;

namespace {

constexpr std::int32_t kSerialA = 1234;
constexpr std::int32_t kSerialB = 5678;

sim::Scenario InstrumentA()
{
    sim::Scenario scenario = FastScenario();
    scenario.serialNumber = kSerialA;
    scenario.exponent = 0;
    scenario.thresholds = {30, 60, 150, 30, 20};
    scenario.loggerBlocks = 40;
    return scenario;
}

sim::Scenario InstrumentB()
{
    sim::Scenario scenario = InstrumentA();
    scenario.serialNumber = kSerialB;
    scenario.exponent = -1;
    scenario.thresholds = {300, 600, 1500, 300, 200};
    return scenario;
}

// The port "sim": the first open meets A, every later one B. The link on
// the port lives on the connection's engine thread.
struct Cradle {
    r310::SerialPort::BackendFactory link()
    {
        return [this](const QString &, const LineSettings &) -> std::unique_ptr<SerialBackend> {
            auto backend = std::make_unique<sim::SimBackend>(opens++ == 0 ? InstrumentA() : InstrumentB());
            backend->setPacing(false);
            backend->device().setTrace([this](const sim::TraceEntry &entry) {
                if (entry.kind != sim::TraceEntry::Kind::Request)
                    return;
                const bool write = (entry.bytes[kOffsetFlags] & kFlagWriteBit) != 0;
                const std::uint8_t object = entry.bytes[kOffsetObject];
                if (write && object != kObjectConnect)
                    ++writes;
                if (onRequest)
                    onRequest(object);
            });
            port = backend.get();
            return backend;
        };
    }
    // Runs f with the link on the engine thread.
    void onEngine(std::function<void(sim::SimBackend &)> f)
    {
        QMetaObject::invokeMethod(port, [this, f = std::move(f)] { f(*port); }, Qt::QueuedConnection);
    }

    int opens = 0;
    std::atomic<int> writes{0};
    sim::SimBackend *port = nullptr;
    std::function<void(std::uint8_t object)> onRequest;
};

RigOptions OnCradle(Cradle &cradle)
{
    RigOptions options;
    options.link = cradle.link();
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
    Cradle cradle;
    WindowRig rig(OnCradle(cradle));
    ASSERT_TRUE(rig.Connect());
    ASSERT_EQ(rig.w().general.Edit_DevSn->text(), QStringLiteral("00001234"));

    cradle.onEngine([](sim::SimBackend &link) { link.unplug(); });
    ExpectClosedAfterOneMessage(rig);

    ASSERT_TRUE(rig.Connect()) << "\"&Open Port\" opens the same name again";
    EXPECT_EQ(rig.w().general.Edit_DevSn->text(), QStringLiteral("00005678"));
    EXPECT_EQ(rig.dialogs.errors.size(), 1);
}

TEST(PortLoss, PulledDuringALoggerDownloadGivesOneMessage)
{
    Cradle cradle;
    WindowRig rig(OnCradle(cradle));
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::Datalogging));
    int blockReads = 0;
    cradle.onRequest = [&cradle, &blockReads](std::uint8_t object) {
        if (object == kObjectLoggerBlock && ++blockReads == 10)
            cradle.onEngine([](sim::SimBackend &link) { link.unplug(); });
    };
    rig.w().logger.Button8->click();
    ExpectClosedAfterOneMessage(rig);
    EXPECT_GE(blockReads, 10);
}

TEST(InstrumentSwap, LimitsTypedForOneInstrumentAreNotWrittenToTheNextOnTheSamePort)
{
    Cradle cradle;
    WindowRig rig(OnCradle(cradle));
    const MainWidgets &w = rig.w();
    ASSERT_TRUE(rig.ConnectOn(InstrumentTab::Range));
    ASSERT_EQ(w.range.alarms[1].edit->text(), QStringLiteral("60"));

    // B is put on the cradle; the window still shows A.
    cradle.onEngine([](sim::SimBackend &link) { link.device().state() = sim::Device(InstrumentB()).state(); });
    SpinFor(50ms);
    QLineEdit *a2 = w.range.alarms[1].edit;
    Type(a2, QStringLiteral("61"));
    const int writesBefore = cradle.writes.load();
    w.range.ButtonSetGW->click();
    ASSERT_TRUE(SpinUntil([&] { return rig.Idle() && !rig.dialogs.errors.isEmpty(); }, 5s));
    SpinFor(50ms);

    EXPECT_EQ(cradle.writes.load(), writesBefore) << "B received a write";
    EXPECT_EQ(cradle.port->device().state().range.thresholds[1], 600);
    EXPECT_EQ(rig.dialogs.errors,
              QStringList{QString::fromUtf8("The instrument changed (serial 1234 → 5678); nothing was written.")});
    EXPECT_EQ(w.general.Edit_DevSn->text(), QStringLiteral("00005678")) << "B is read as after a connect";
    EXPECT_EQ(w.range.alarms[1].edit->text(), QStringLiteral("60.0")) << "the Range tab shows B";
}

} // namespace
