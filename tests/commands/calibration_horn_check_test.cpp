// The horn check: on, then off, the second request sent whatever became of
// the first, and only answers that arrived decoded.
#include "InstrumentRig.h"

#include "HornCheck.h"

#include <algorithm>

using namespace r310;
using namespace r310test;

namespace {

TEST(HornCheck, SwitchesTheHornOnThenOff)
{
    EXPECT_EQ(HornPayload(true), Bytes{1});
    EXPECT_EQ(HornPayload(false), Bytes{0});
    ConnectedRig rig;
    rig.Mark();
    auto result = std::make_shared<HornCheckResult>();
    rig.Run(HornCheckJob(result));
    const std::vector<Heard> heard = rig.Heard();
    // Each write follows a read of the identity: the instrument is still the one.
    ASSERT_EQ(Names(heard), (std::vector<std::string>{"R2", "W8", "R2", "W8"}));
    EXPECT_EQ(heard[1].payload, Bytes{1});
    EXPECT_EQ(heard[3].payload, Bytes{0});
    EXPECT_EQ(heard[1].flags, kFlagsWrite);
    EXPECT_TRUE(result->accepted());
    const sim::DeviceState state = rig.InstrumentState();
    EXPECT_FALSE(state.hornOn);
    EXPECT_EQ(state.hornSwitches, 2);
}

TEST(HornCheck, TheHornOffRequestGoesOutWhenTheFirstIsUnanswered)
{
    ConnectedRig rig;
    rig.Settle();
    // Every attempt of the first request goes unheard.
    sim::FaultPlan lost;
    lost.noAnswer.next = Transaction::kMaxAttempts;
    lost.objects = {kObjectHorn};
    rig.SetFaults(lost);
    rig.Settle();
    const std::size_t answers = rig.answers.size();
    rig.Mark();
    auto result = std::make_shared<HornCheckResult>();
    rig.Run(HornCheckJob(result));
    rig.Settle();
    // Each send follows an identity read, which the instrument answers.
    std::vector<Heard> heard = rig.Heard();
    ASSERT_EQ(heard.size(), 12U);
    for (std::size_t i = 0; i < heard.size(); i += 2)
        EXPECT_EQ(heard[i].name(), "R2");
    heard.erase(std::remove_if(heard.begin(), heard.end(), [](const Heard &h) { return h.name() == "R2"; }),
                heard.end());
    ASSERT_EQ(heard.size(), 6U);
    for (std::size_t i = 0; i < 5; ++i)
        EXPECT_EQ(heard[i].payload, Bytes{1});
    EXPECT_EQ(heard[5].payload, Bytes{0});
    EXPECT_EQ(result->hornOn, Outcome::NoAnswer);
    EXPECT_EQ(result->hornOff, Outcome::Done);
    EXPECT_EQ(rig.lamp, LampColour::Red);
    // Only the answer that arrived was decoded: the horn-off answer.
    ASSERT_EQ(rig.answers.size(), answers + 1);
    EXPECT_EQ(rig.answers.back().object, kObjectHorn);
    EXPECT_FALSE(rig.InstrumentState().hornOn);
}

TEST(HornCheck, ClosedPortSendsNothingAndSaysItOnce)
{
    Rig rig;
    auto result = std::make_shared<HornCheckResult>();
    rig.Run(HornCheckJob(result));
    rig.Settle();
    EXPECT_EQ(result->hornOn, Outcome::PortClosed);
    EXPECT_EQ(result->hornOff, Outcome::NotRun);
    EXPECT_EQ(rig.messages, QStringList{QStringLiteral("Comport nicht geöffnet!")});
    EXPECT_EQ(rig.HeardCount(), 0U);
}

} // namespace
