// The service functions of object 127 and the exchange every command of
// this layer runs: payloads, outcomes, the lamp, nothing decoded after a
// failed exchange, the armed wait and the limit on attempts.
#include "InstrumentRig.h"

#include "ServiceFunction.h"

using namespace r310;
using namespace r310test;

namespace {

// A service-function request of `code`, waiting `armTicks` per attempt, at most `attempts` times.
CommandRequest ServiceRequest(std::uint8_t code, int armTicks, int attempts = Transaction::kMaxAttempts)
{
    CommandRequest request;
    request.object = kObjectSpecialFunction;
    request.payload = {code};
    request.armTicks = armTicks;
    request.attempts = attempts;
    return request;
}

// Every request of the service-function object meets `plan`.
void ServiceFaults(Rig &rig, sim::FaultPlan plan)
{
    plan.objects = {kObjectSpecialFunction};
    rig.SetFaults(plan);
}

TEST(ServiceFunctionPayload, ItemsSendTheirIndexPlusOneAndNoSelectionNothing)
{
    EXPECT_FALSE(ServiceCodeForItem(-1).has_value());
    EXPECT_FALSE(ServiceCodeForItem(6).has_value());
    const ServiceCode expected[] = {ServiceCode::Off,     ServiceCode::Lock,   ServiceCode::Reset,
                                    ServiceCode::Default, ServiceCode::Update, ServiceCode::Unlock};
    for (int i = 0; i < 6; ++i) {
        ASSERT_EQ(ServiceCodeForItem(i), expected[i]) << kServiceFunctionItems[static_cast<std::size_t>(i)].toStdString();
        EXPECT_EQ(ServiceFunctionPayload(*ServiceCodeForItem(i)), (Bytes{static_cast<std::uint8_t>(i + 1)}));
    }
    EXPECT_EQ(kServiceFunctionItems[2], QStringLiteral("Reset"));
    EXPECT_EQ(ServiceFunctionPayload(ServiceCode::ClearLogger), Bytes{7});
}

TEST(ServiceFunctionJob, ResetSendsCodeThreeAndTheInstrumentTakesIt)
{
    ConnectedRig rig;
    rig.Mark();
    auto result = std::make_shared<ServiceFunctionResult>();
    EXPECT_EQ(rig.Run(ServiceFunctionJob(ServiceCode::Reset, result)), Outcome::Done);
    EXPECT_EQ(result->outcome, Outcome::Done);
    EXPECT_TRUE(result->accepted());
    const std::vector<Heard> heard = rig.Heard();
    ASSERT_EQ(heard.size(), 2U);
    EXPECT_EQ(heard[0].name(), "R2") << "the identity is read before the write";
    EXPECT_EQ(heard[1].name(), "W127");
    EXPECT_EQ(heard[1].flags, kFlagsWrite);
    EXPECT_EQ(heard[1].payload, Bytes{3});
    EXPECT_EQ(rig.InstrumentState().serviceCalls, (std::vector<std::uint8_t>{3}));
}

TEST(ServiceFunctionJob, ClearLoggerEmptiesTheDataLogger)
{
    ConnectedRig rig;
    ASSERT_FALSE(rig.InstrumentState().logger.blocks.empty());
    auto result = std::make_shared<ServiceFunctionResult>();
    rig.Run(ServiceFunctionJob(ServiceCode::ClearLogger, result));
    EXPECT_TRUE(result->accepted());
    EXPECT_TRUE(rig.InstrumentState().logger.blocks.empty());
}

TEST(CommandRequest, ClosedPortSendsNothingAndSaysSo)
{
    Rig rig;
    auto result = std::make_shared<ServiceFunctionResult>();
    rig.Run(ServiceFunctionJob(ServiceCode::Lock, result));
    rig.Settle();
    EXPECT_EQ(result->outcome, Outcome::PortClosed);
    EXPECT_EQ(rig.HeardCount(), 0U);
    EXPECT_EQ(rig.messages, QStringList{QStringLiteral("Comport nicht geöffnet!")});
    EXPECT_EQ(rig.lamp, LampColour::Red);
    EXPECT_TRUE(rig.answers.empty());
}

TEST(CommandRequest, NoAnswerTurnsTheLampRedAndDecodesNothingStale)
{
    ConnectedRig rig;
    rig.Settle();
    ASSERT_EQ(rig.lamp, LampColour::LimeGreen);
    // The write goes unheard; the identity read before each send is answered.
    rig.Silence({kObjectSpecialFunction});
    const std::size_t answersBefore = rig.answers.size();
    rig.Mark();
    auto result = std::make_shared<ServiceFunctionResult>();
    rig.Run(ServiceFunctionJob(ServiceCode::Unlock, result));
    rig.Settle();
    EXPECT_EQ(result->outcome, Outcome::NoAnswer);
    EXPECT_EQ(rig.lamp, LampColour::Red);
    EXPECT_EQ(rig.answers.size(), answersBefore);
    EXPECT_EQ(rig.HeardNames(), (std::vector<std::string>{"R2", "W127", "R2", "W127", "R2", "W127",
                                                                       "R2", "W127", "R2", "W127"}));
    EXPECT_EQ(rig.panels[kStatusPanelExchange], QStringLiteral("No Response from device"));
}

TEST(CommandRequest, AnErrorReportIsDecodedAndNotTakenForAcceptance)
{
    ConnectedRig rig;
    sim::FaultPlan refusing;
    refusing.errorReport.next = 1;
    ServiceFaults(rig, refusing);
    auto result = std::make_shared<ServiceFunctionResult>();
    rig.Run(ServiceFunctionJob(ServiceCode::Default, result));
    rig.Settle();
    EXPECT_EQ(result->outcome, Outcome::ErrorReport);
    EXPECT_FALSE(result->accepted());
    ASSERT_FALSE(rig.answers.empty());
    EXPECT_TRUE(rig.answers.back().errorReport);
    EXPECT_TRUE(rig.InstrumentState().serviceCalls.empty());
}

TEST(CommandRequest, ArmedWriteWaitsItsTicksBeforeSendingAgain)
{
    ConnectedRig rig;
    // The answer comes 120 ms late: three 10 ms ticks would send again
    // several times, twenty armed ticks wait for it.
    sim::FaultPlan slow;
    slow.late.probability = 1.0;
    slow.lateMillis = 120;
    ServiceFaults(rig, slow);
    rig.Mark();
    Outcome outcome = Outcome::NotRun;
    rig.Run([&outcome](JobContext &job) { outcome = RunCommandRequest(job, ServiceRequest(6, 20)); });
    EXPECT_EQ(outcome, Outcome::Done);
    EXPECT_EQ(rig.HeardNames(), (std::vector<std::string>{"R2", "W127"}));
}

TEST(CommandRequest, AttemptLimitSendsTheWriteOnlyThatOftenAndTheLineWorksAfterwards)
{
    ConnectedRig rig;
    sim::FaultPlan silent;
    silent.noAnswer.next = 2;
    ServiceFaults(rig, silent);
    rig.Mark();
    Outcome limited = Outcome::NotRun;
    Outcome next = Outcome::NotRun;
    rig.Run([&](JobContext &job) {
        limited = RunCommandRequest(job, ServiceRequest(6, 15, 2));
        EXPECT_FALSE(job.cancelled());
        next = RunCommandRequest(job, ServiceRequest(6, 15));
    });
    rig.Settle();
    EXPECT_EQ(limited, Outcome::NoAnswer);
    EXPECT_EQ(next, Outcome::Done);
    EXPECT_EQ(rig.HeardNames(), (std::vector<std::string>{"R2", "W127", "R2", "W127", "R2", "W127"}));
}

TEST(CommandRequest, ClosingThePortDuringALimitedWaitKeepsTheCancel)
{
    ConnectedRig rig;
    rig.Silence();
    rig.Mark();
    auto outcome = std::make_shared<Outcome>(Outcome::NotRun);
    const JobId id = rig.connection.submit(QStringLiteral("limited"), [outcome](JobContext &job) {
        *outcome = RunCommandRequest(job, ServiceRequest(2, 50, 1));
    });
    ASSERT_TRUE(r310test::SpinUntil([&] { return !rig.Heard().empty(); }, 2s));
    rig.connection.closePort();
    EXPECT_EQ(rig.connection.waitFor(id), Outcome::Cancelled);
    EXPECT_EQ(*outcome, Outcome::Cancelled);
    EXPECT_EQ(rig.Heard().size(), 1u);
}

} // namespace
