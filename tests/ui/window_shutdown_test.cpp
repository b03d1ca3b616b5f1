// Closing the main window while the connection works: during the search,
// during a tab's read that waits for a silent instrument with more reads
// queued behind it, and by "&Exit". Nothing more is sent, the port closes,
// and no late answer touches the window. Runs in the sanitizer build too.
#include "UiRig.h"

namespace {

using namespace r310;
using namespace uitest;

// After the window closed: the engine is gone and the instrument hears nothing more.
void ExpectSilenceAfterClose(WindowRig &rig)
{
    EXPECT_EQ(rig.window().connection(), nullptr);
    const std::size_t heard = rig.line->size();
    SpinFor(300ms);
    EXPECT_EQ(rig.line->size(), heard) << "requests after the window closed";
}

TEST(WindowShutdown, ClosingDuringTheSearch)
{
    RigOptions options;
    options.scenario.faults.noAnswer.probability = 1.0;
    WindowRig rig(options);
    rig.window().OpenPort();
    ASSERT_TRUE(SpinUntil([&] { return rig.line->size() >= 3; }, 5s));
    EXPECT_EQ(rig.w().status.panels[0]->text(), QStringLiteral("Search"));
    rig.window().close();
    ExpectSilenceAfterClose(rig);
}

TEST(WindowShutdown, ClosingWhileATabReadWaitsAndMoreAreQueued)
{
    RigOptions options;
    options.tick = std::chrono::milliseconds(50);
    // The range object goes unanswered: its read waits through its attempts.
    options.scenario.faults.noAnswer.probability = 1.0;
    options.scenario.faults.objects = {kObjectRange};
    WindowRig rig(options);
    ASSERT_TRUE(rig.Connect());
    const auto *tabs = rig.w().PageControl1;
    rig.window().tabGuard().requestTab(rig.window().IndexOf(InstrumentTab::Range));
    rig.window().tabGuard().requestTab(rig.window().IndexOf(InstrumentTab::Signals));
    rig.window().tabGuard().requestTab(rig.window().IndexOf(InstrumentTab::Hardware));
    ASSERT_TRUE(SpinUntil([&] {
        const auto heard = rig.heard();
        return !heard.empty() && heard.back() == "R4";
    }, 5s));
    ASSERT_TRUE(rig.window().connection()->busy());
    rig.window().close();
    ExpectSilenceAfterClose(rig);
    const auto heard = rig.heard();
    std::string names;
    for (const std::string &name : heard)
        names += name + " ";
    EXPECT_EQ(std::count(heard.begin(), heard.end(), "R31"), 0)
        << "a queued read ran before or after the close: " << names;
    EXPECT_EQ(tabs->currentWidget(), rig.w().hardware.TabSheet4);
}

TEST(WindowShutdown, ExitWhileConnectedEndsTheConnection)
{
    WindowRig rig;
    ASSERT_TRUE(rig.Connect());
    rig.w().control.Button3->click();
    EXPECT_FALSE(rig.window().isVisible());
    ExpectSilenceAfterClose(rig);
}

} // namespace
