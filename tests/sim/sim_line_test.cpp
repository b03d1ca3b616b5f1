// The simulated instrument on the line: framing of requests in any chunking,
// 9600-baud timing computed from the emissions, and every fault on demand.
#include "SimTestSupport.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

using namespace simtest;
using namespace r310::sim;

namespace {

const Bytes kReadIdentity = {0x56, 0x59, 0x4B, 0x34, 0x02, 0x00, 0x00, 0xF7, 0xE5};
const Bytes kConnect = {0x56, 0x59, 0x4B, 0x34, 0x01, 0x60, 0x00, 0xA5, 0x9F};
constexpr std::size_t kIdentityFrame = 21 + 9;

Scenario WithFaults(const FaultPlan &plan, bool pacing = false)
{
    Scenario s = Quiet();
    s.pacing = pacing;
    s.faults = plan;
    return s;
}

Bytes CustomerIdWrite(const std::string &id)
{
    Bytes p(21, 0);
    std::copy(id.begin(), id.end(), p.begin() + 10);
    return Request(2, 0x60, p);
}

} // namespace

TEST(SimFraming, RequestsAreFoundInAnyChunking)
{
    Harness whole;
    const Bytes expected = Joined(whole.send(kReadIdentity));
    ASSERT_EQ(expected.size(), kIdentityFrame);

    Harness bytewise;
    Bytes got;
    for (std::uint8_t b : kReadIdentity) {
        const Bytes part = Joined(bytewise.send({b}));
        got.insert(got.end(), part.begin(), part.end());
    }
    EXPECT_EQ(got, expected);

    // Two requests in one block, noise and a lone header letter in front.
    Harness noisy;
    Bytes stream = {0x00, 0x56, 0x13};
    stream.push_back(0x56); // a 'V' right before the real header
    stream.insert(stream.end(), kConnect.begin(), kConnect.end());
    stream.insert(stream.end(), kReadIdentity.begin(), kReadIdentity.end());
    const Bytes answers = Joined(noisy.send(stream));
    ASSERT_EQ(answers.size(), 9 + kIdentityFrame);
    EXPECT_EQ(Assemble(Bytes(answers.begin(), answers.begin() + 9)).frame.object, 1);
    EXPECT_EQ(Bytes(answers.begin() + 9, answers.end()), expected);
}

TEST(SimFraming, BadCrcAnswersAndLongFramesGetNoAnswer)
{
    Harness h;
    Bytes bad = kReadIdentity;
    bad.back() ^= 0x01;
    EXPECT_TRUE(h.send(bad).empty());
    EXPECT_EQ(h.device.statistics().badCrc, 1);

    // A frame that is itself an answer is not served.
    EXPECT_TRUE(h.send(r310::EncodeFrame(2, 0xC0, Bytes(21, 0))).empty());
    // A length byte above 64 is dropped at once and the next request is found.
    Bytes tooLong = {0x56, 0x59, 0x4B, 0x34, 0x02, 0x00, 65};
    tooLong.insert(tooLong.end(), kReadIdentity.begin(), kReadIdentity.end());
    EXPECT_EQ(Joined(h.send(tooLong)).size(), kIdentityFrame);
    EXPECT_EQ(h.device.statistics().ignored, 2);
    EXPECT_EQ(h.device.statistics().requests, 1);
}

TEST(SimFraming, APartialRequestIsForgottenAfterAPause)
{
    Harness h;
    EXPECT_TRUE(h.send(Bytes(kReadIdentity.begin(), kReadIdentity.begin() + 6)).empty());
    h.clock->advanceMillis(150);
    EXPECT_EQ(Joined(h.send(kConnect)).size(), 9u);
}

TEST(SimTiming, AnswerBytesArriveAtLineSpeedAfterTheTurnaround)
{
    Scenario s;
    s.turnaroundMillis = 5;
    Harness h(s);
    h.clock->advanceMillis(10);
    const std::int64_t t0 = h.clock->nowMicros();
    const auto emissions = h.send(kReadIdentity);
    ASSERT_EQ(emissions.size(), kIdentityFrame) << "one byte per emission";
    const std::int64_t requestDone = t0 + 9375; // 9 bytes x 10 bits at 9600 baud
    for (std::size_t i = 0; i < emissions.size(); ++i)
        EXPECT_EQ(emissions[i].atMicros, requestDone + 5000 + LineMicros(static_cast<std::int64_t>(i) + 1));
    EXPECT_EQ(emissions.back().atMicros, t0 + 9375 + 5000 + 31250);
    EXPECT_EQ(LineMicros(1), 1042);
}

TEST(SimTiming, RequestBytesQueueOnTheLineAndAnswersDoNotOverlap)
{
    Scenario s;
    s.turnaroundMillis = 2;
    Harness h(s);
    // The second half is written while the first is still on the wire.
    EXPECT_TRUE(h.send(Bytes(kConnect.begin(), kConnect.begin() + 4)).empty());
    h.clock->advanceMicros(1000);
    const auto first = h.send(Bytes(kConnect.begin() + 4, kConnect.end()));
    ASSERT_EQ(first.size(), 9u);
    EXPECT_EQ(first.front().atMicros, LineMicros(9) + 2000 + LineMicros(1));

    // A request arriving while an answer is on its way: its answer follows.
    const auto second = h.send(kConnect);
    EXPECT_EQ(second.front().atMicros, first.back().atMicros + LineMicros(1));
}

TEST(SimTiming, WithoutPacingAnswersAreDueAtOnceInOnePiece)
{
    Harness h;
    h.clock->advanceMillis(3);
    const auto emissions = h.send(kReadIdentity);
    ASSERT_EQ(emissions.size(), 1u);
    EXPECT_EQ(emissions[0].atMicros, 3000);
    EXPECT_EQ(emissions[0].bytes.size(), kIdentityFrame);
}

TEST(SimFaults, NoAnswerForTheNextRequestsLeavesThemUnheard)
{
    FaultPlan plan;
    plan.noAnswer.next = 2;
    Harness h(WithFaults(plan));
    EXPECT_TRUE(h.send(CustomerIdWrite("LOST")).empty());
    EXPECT_TRUE(h.send(kReadIdentity).empty());
    EXPECT_EQ(Joined(h.send(kReadIdentity)).size(), kIdentityFrame);
    EXPECT_EQ(CustomerIdText(h.device.state().identity.customerId), "DEMO") << "an unheard write has no effect";
    EXPECT_EQ(h.device.statistics().unanswered, 2);

    // A new plan counts again.
    h.device.setFaults(plan);
    EXPECT_TRUE(h.send(kConnect).empty());
}

TEST(SimFaults, NoAnswerAlwaysAndOnlyForChosenObjects)
{
    FaultPlan plan;
    plan.noAnswer.probability = 1.0;
    plan.objects = {3};
    Harness h(WithFaults(plan));
    for (int i = 0; i < 5; ++i) {
        EXPECT_TRUE(h.send(Request(3, 0)).empty());
        EXPECT_FALSE(h.send(kReadIdentity).empty());
    }
}

TEST(SimFaults, ProbableFaultsRepeatUnderTheSeed)
{
    auto pattern = [](std::uint32_t seed) {
        FaultPlan plan;
        plan.noAnswer.probability = 0.3;
        Scenario s = WithFaults(plan);
        s.seed = seed;
        Harness h(s);
        std::string marks;
        for (int i = 0; i < 1000; ++i)
            marks += h.send(kConnect).empty() ? 'x' : '.';
        return marks;
    };
    const std::string a = pattern(7);
    EXPECT_EQ(a, pattern(7));
    EXPECT_NE(a, pattern(8));
    const auto lost = std::count(a.begin(), a.end(), 'x');
    EXPECT_GT(lost, 240);
    EXPECT_LT(lost, 360);
}

TEST(SimFaults, CorruptedCrcIsSeenAsABadFrame)
{
    FaultPlan plan;
    plan.badCrc.next = 1;
    Harness h(WithFaults(plan));
    EXPECT_EQ(Assemble(Joined(h.send(kReadIdentity))).status, -2);
    EXPECT_EQ(Assemble(Joined(h.send(kReadIdentity))).status, 1);
}

TEST(SimFaults, ErrorReportReplacesTheAnswerAndTheRequestHasNoEffect)
{
    FaultPlan plan;
    plan.errorReport.next = 1;
    Harness h(WithFaults(plan));
    const Assembled a = Assemble(Joined(h.send(CustomerIdWrite("NEW"))));
    ASSERT_EQ(a.status, 1);
    EXPECT_EQ(a.frame.object, 0xF0);
    EXPECT_EQ(a.frame.payload.at(2), static_cast<std::uint8_t>(ErrorReason::Injected));
    EXPECT_EQ(CustomerIdText(h.device.state().identity.customerId), "DEMO");
}

TEST(SimFaults, AnotherObjectsAnswerReplacesTheAnswerAndTheRequestHasNoEffect)
{
    FaultPlan plan;
    plan.wrongObject.next = 2;
    Harness h(WithFaults(plan));
    const Assembled written = Assemble(Joined(h.send(CustomerIdWrite("NEW"))));
    ASSERT_EQ(written.status, 1) << "a good frame, only of the wrong object";
    EXPECT_NE(written.frame.object, 2);
    EXPECT_EQ(CustomerIdText(h.device.state().identity.customerId), "DEMO") << "the write was not taken";
    EXPECT_NE(h.read(2).object, 2) << "the second request is hit as well";
    EXPECT_EQ(h.read(2).object, 2) << "the third one is answered as asked";

    // Under the seed every other readable object turns up, and each answer
    // is that object's own, with its payload length.
    plan.wrongObject = FaultRate{0, 1.0};
    Harness always(WithFaults(plan));
    const std::map<int, std::size_t> lengths{{2, 21}, {3, 4}, {7, 2}, {35, 8}};
    std::set<int> seen;
    for (int i = 0; i < 60; ++i) {
        const r310::Frame answer = always.read(7);
        ASSERT_EQ(always.lastStatus, 1);
        ASSERT_TRUE(lengths.count(answer.object)) << int(answer.object);
        EXPECT_NE(answer.object, 7);
        EXPECT_EQ(answer.payload.size(), lengths.at(answer.object)) << int(answer.object);
        seen.insert(answer.object);
    }
    EXPECT_EQ(seen, (std::set<int>{2, 3, 35}));
}

TEST(SimFaults, EchoStrayBytesAndSplitAnswersStillCarryTheFrame)
{
    FaultPlan echo;
    echo.echo.next = 1;
    Harness e(WithFaults(echo));
    const Bytes echoed = Joined(e.send(kReadIdentity));
    ASSERT_EQ(echoed.size(), 9 + kIdentityFrame);
    EXPECT_EQ(Bytes(echoed.begin(), echoed.begin() + 9), kReadIdentity);
    EXPECT_EQ(Assemble(echoed).frame.object, 2) << "the echo is no answer and is skipped";

    FaultPlan stray;
    stray.stray.next = 1;
    stray.strayBytes = 5;
    Harness s(WithFaults(stray));
    const Bytes noisy = Joined(s.send(kReadIdentity));
    ASSERT_EQ(noisy.size(), 5 + kIdentityFrame);
    EXPECT_EQ(std::count(noisy.begin(), noisy.begin() + 5, 0x56), 0);
    EXPECT_EQ(Assemble(noisy).status, 1);

    FaultPlan split;
    split.split.next = 1;
    split.splitPieces = 3;
    split.splitPauseMillis = 40;
    Harness p(WithFaults(split));
    const auto pieces = p.send(kReadIdentity);
    ASSERT_EQ(pieces.size(), 3u);
    EXPECT_EQ(pieces[0].atMicros, 0);
    EXPECT_EQ(pieces[1].atMicros, 40000);
    EXPECT_EQ(pieces[2].atMicros, 80000);
    EXPECT_EQ(Assemble(Joined(pieces)).status, 1);
}

TEST(SimFaults, SplitPausesAddToLineTime)
{
    FaultPlan split;
    split.split.next = 1;
    split.splitPieces = 2;
    split.splitPauseMillis = 10;
    Scenario s = WithFaults(split, true);
    s.turnaroundMillis = 0;
    Harness h(s);
    const auto bytes = h.send(kConnect);
    ASSERT_EQ(bytes.size(), 9u);
    const std::int64_t start = LineMicros(9);
    EXPECT_EQ(bytes[4].atMicros, start + LineMicros(5));
    EXPECT_EQ(bytes[5].atMicros, start + LineMicros(5) + 10000 + LineMicros(1));
}

TEST(SimFaults, LateAnswerArrivesDuringTheRetry)
{
    FaultPlan plan;
    plan.late.next = 1;
    plan.lateMillis = 450;
    Harness h(WithFaults(plan));
    const auto late = h.send(kReadIdentity);
    ASSERT_EQ(late.size(), 1u);
    EXPECT_EQ(late[0].atMicros, 450000);
    h.clock->advanceMillis(300); // the client gives up and sends again
    const auto retry = h.send(kReadIdentity);
    ASSERT_EQ(retry.size(), 1u);
    EXPECT_GE(retry[0].atMicros, 450000) << "answers never overtake each other";
}

TEST(SimFaults, ClockThatRefusesWritesStillAnswers)
{
    FaultPlan plan;
    plan.clockReadOnly = true;
    Harness h(WithFaults(plan));
    const std::uint32_t before = U32(h.read(3).payload, 0);
    const r310::Frame answer = h.write(3, {0x80, 0x9D, 0x9E, 0x25});
    EXPECT_EQ(answer.object, 3);
    EXPECT_EQ(U32(answer.payload, 0), before);
    EXPECT_EQ(U32(h.read(3).payload, 0), before);
}

TEST(SimFaults, LineGoesAwayInTheMiddleOfADownload)
{
    FaultPlan plan;
    plan.lineDropAfter = 3;
    Harness h(WithFaults(plan));
    for (int n = 1; n <= 3; ++n)
        EXPECT_EQ(h.read(34, Le16(n)).object, 34);
    EXPECT_TRUE(h.send(Request(34, 0, Le16(4))).empty());
    EXPECT_TRUE(h.send(kReadIdentity).empty()) << "gone for every object";
    EXPECT_TRUE(h.device.lineDown());

    plan.lineDropAfter = 0;
    plan.lineDropFor = 2;
    Harness back(WithFaults(plan));
    EXPECT_FALSE(back.send(kReadIdentity).empty()) << "only log requests count";
    EXPECT_TRUE(back.send(Request(36, 0)).empty());
    EXPECT_TRUE(back.send(Request(36, 0)).empty());
    EXPECT_FALSE(back.send(Request(36, 0)).empty()) << "back after two lost requests";
}

TEST(SimTrace, ReportsRequestsAnswersAndDroppedFrames)
{
    FaultPlan plan;
    plan.noAnswer.next = 1;
    Harness h(WithFaults(plan));
    std::vector<TraceEntry::Kind> kinds;
    h.device.setTrace([&](const TraceEntry &e) { kinds.push_back(e.kind); });
    h.send(kConnect);
    h.send(kConnect);
    Bytes bad = kConnect;
    bad[8] ^= 1;
    h.send(bad);
    using K = TraceEntry::Kind;
    EXPECT_EQ(kinds, (std::vector<K>{K::Request, K::Unanswered, K::Request, K::Answer, K::BadCrc}));
}
