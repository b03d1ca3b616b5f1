// The request transaction against a scripted instrument on a real
// pseudo-terminal, through the serial port service and QSerialPort.
#include "SerialPort.h"
#include "LinkTestSupport.h"
#include "QSerialPortBackend.h"
#include "Transaction.h"

#include <gtest/gtest.h>

#include <QTimer>

#include <stdexcept>
#include <thread>

using namespace r310;
using namespace linktest;
using namespace std::chrono_literals;

namespace {

const Bytes kReadIdentityOnWire = {0x56, 0x59, 0x4B, 0x34, 0x02, 0x00, 0x00, 0xF7, 0xE5};
const Bytes kIdentityPayload = {0x39, 0x30, 0, 0, 0x65, 0x00, 0x07, 0x00, 0xD2, 0x00,
                                'A', 'B', 'C', 0, 0, 0, 0, 0, 0, 0, 80};

class TransactionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        EnsureApplication();
        port.SetPortName(instrument.devicePath());
        port.SetOpen(true);
        transaction.SetTickLength(tick);
    }

    // Runs a plain read the way every read command does.
    void RunRead(std::uint8_t object)
    {
        RequestBuffer request{};
        BuildReadRequest(object, request);
        transaction.ArmResponseTimer(1);
        transaction.RunTransaction(request);
    }

    Bytes ReceivedFrame() const
    {
        const ReceiveBuffer &buffer = transaction.Received();
        return Bytes(buffer.bytes.begin(), buffer.bytes.begin() + buffer.count);
    }

    std::chrono::milliseconds tick{20};
    PtyInstrument instrument;
    RecordingUi ui;
    SerialPort port;
    Transaction transaction{port, ui};
};

TEST_F(TransactionTest, AnswerAtOnceIsTakenAfterOneSendOfTheFrameAsBuilt)
{
    const Bytes answer = InstrumentFrame(2, 0xC0, kIdentityPayload);
    instrument.script({{answer}});

    RunRead(2);

    const auto requests = instrument.requests();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].frame, kReadIdentityOnWire);
    const TransactionResult &result = transaction.Result();
    EXPECT_EQ(result.ResponseStatus, 1);
    EXPECT_TRUE(result.AwaitingResponse) << "the decoder takes the answer, not the transaction";
    EXPECT_FALSE(result.TimedOut);
    EXPECT_FALSE(result.Failed());
    EXPECT_EQ(ReceivedFrame(), answer);
    EXPECT_EQ(ui.panel(kStatusPanelExchange), "Send OBJ/R 2");
    EXPECT_TRUE(ui.errors.isEmpty());
    EXPECT_EQ(transaction.PollTicks(), Transaction::kPollTicksAfterSend);
}

TEST_F(TransactionTest, SilenceOnTheFirstAttemptIsRetriedWithTheIdenticalFrame)
{
    const Bytes answer = InstrumentFrame(2, 0xC0, kIdentityPayload);
    instrument.script({{}, {answer}});

    RunRead(2);

    const auto requests = instrument.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].frame, requests[0].frame);
    EXPECT_GE(requests[1].at - requests[0].at, 2 * tick) << "the retry waits for the time-out";
    EXPECT_EQ(transaction.Result().ResponseStatus, 1);
    EXPECT_FALSE(transaction.Result().Failed());
    EXPECT_EQ(ui.exchangeHistory, QStringList{"Send OBJ/R 2"}) << "no error text after a late success";
}

TEST_F(TransactionTest, CorruptedAnswerIsRetriedAtOnce)
{
    tick = 100ms;
    transaction.SetTickLength(tick);
    const Bytes answer = InstrumentFrame(2, 0xC0, kIdentityPayload);
    instrument.script({{WithBadCrc(answer)}, {answer}});

    RunRead(2);

    const auto requests = instrument.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].frame, requests[0].frame);
    EXPECT_LT(requests[1].at - requests[0].at, 2 * tick) << "a bad CRC ends its attempt without the time-out";
    EXPECT_EQ(transaction.Result().ResponseStatus, 1);
    EXPECT_EQ(ReceivedFrame(), answer);
}

TEST_F(TransactionTest, FiveCorruptedAnswersLeaveTheCrcVerdictAndNoText)
{
    const Bytes bad = WithBadCrc(InstrumentFrame(2, 0xC0, kIdentityPayload));
    instrument.script({{bad}, {bad}, {bad}, {bad}, {bad}, {bad}});

    RunRead(2);

    EXPECT_EQ(instrument.requests().size(), 5u);
    EXPECT_EQ(transaction.Result().ResponseStatus, -2);
    EXPECT_FALSE(transaction.Result().TimedOut);
    EXPECT_TRUE(transaction.Result().Failed());
    EXPECT_EQ(ui.panel(kStatusPanelExchange), "Send OBJ/R 2");
}

// The real 100 ms tick: the instrument sees the rhythm the product has.
TEST_F(TransactionTest, SilentInstrumentGetsFiveIdenticalSendsThreeTicksApartThenGiveUp)
{
    tick = Transaction::kDefaultTick;
    transaction.SetTickLength(tick);

    RunRead(2);

    const auto requests = instrument.requests();
    ASSERT_EQ(requests.size(), 5u);
    for (std::size_t i = 1; i < requests.size(); ++i) {
        EXPECT_EQ(requests[i].frame, kReadIdentityOnWire);
        const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(requests[i].at - requests[i - 1].at);
        EXPECT_GE(gap, 250ms) << "attempt " << i;
        EXPECT_LE(gap, 450ms) << "attempt " << i;
    }
    const TransactionResult &result = transaction.Result();
    EXPECT_EQ(result.ResponseStatus, 0);
    EXPECT_TRUE(result.TimedOut);
    EXPECT_TRUE(result.AwaitingResponse);
    EXPECT_TRUE(result.Failed());
    EXPECT_EQ(ui.panel(kStatusPanelExchange), "No Response from device");
    EXPECT_EQ(transaction.ReconnectTicks(), 9) << "the last time-out tick took one";
}

TEST_F(TransactionTest, AfterGivingUpReconnectTicksRunOutInNineTicksWhilePollingStandsStill)
{
    RunRead(2);
    ASSERT_EQ(transaction.ReconnectTicks(), 9);

    std::vector<std::int32_t> seen{9};
    const auto start = Clock::now();
    SpinUntil(
        [&] {
            if (transaction.ReconnectTicks() != seen.back())
                seen.push_back(transaction.ReconnectTicks());
            return seen.back() == 0;
        },
        2s);
    const auto elapsed = Clock::now() - start;

    EXPECT_EQ(seen, (std::vector<std::int32_t>{9, 8, 7, 6, 5, 4, 3, 2, 1, 0})) << "one per tick";
    EXPECT_GE(elapsed, 8 * tick);
    EXPECT_TRUE(transaction.Result().TimedOut);
    EXPECT_TRUE(transaction.Result().AwaitingResponse);
    EXPECT_EQ(transaction.PollTicks(), Transaction::kPollTicksAfterSend) << "no poll while the answer is owed";
    EXPECT_TRUE(transaction.Ticking());
}

TEST_F(TransactionTest, ClosingThePortDuringTheWaitEndsItWithCancelByUser)
{
    // The close button's work, run from inside the wait like a click.
    QTimer::singleShot(tick * 3 / 2, [this] {
        transaction.Cancel();
        ui.setStatusText(kStatusPanelPhase, QString());
        ui.setStatusText(kStatusPanelExchange, QString());
        port.SetOpen(false);
    });
    const auto start = Clock::now();

    RunRead(2);

    EXPECT_LT(Clock::now() - start, 3 * tick) << "no further attempt";
    EXPECT_EQ(instrument.requests().size(), 1u);
    EXPECT_TRUE(transaction.Result().Cancelled);
    EXPECT_TRUE(transaction.Result().Failed());
    EXPECT_EQ(ui.panel(kStatusPanelExchange), "Cancel by User");
    EXPECT_FALSE(port.Open());
}

TEST_F(TransactionTest, ClosedPortShowsTheMessageOnceAndSendsNothing)
{
    const Bytes answer = InstrumentFrame(2, 0xC0, kIdentityPayload);
    instrument.script({{answer}});
    RunRead(2);
    const TransactionResult before = transaction.Result();
    port.SetOpen(false);

    RunRead(3);

    EXPECT_EQ(ui.errors, QStringList{QStringLiteral("Comport nicht geöffnet!")});
    EXPECT_EQ(instrument.requests().size(), 1u) << "only the earlier read reached the instrument";
    EXPECT_EQ(transaction.Result().ResponseStatus, before.ResponseStatus);
    EXPECT_EQ(transaction.Result().AwaitingResponse, before.AwaitingResponse);
    EXPECT_EQ(transaction.Result().TimedOut, before.TimedOut);
    EXPECT_EQ(ui.panel(kStatusPanelExchange), "Send OBJ/R 2") << "status line untouched";
}

TEST_F(TransactionTest, StatusLetterFollowsTheWriteBit)
{
    instrument.script({{InstrumentFrame(1, 0xC0, {})}, {InstrumentFrame(4, 0xC0, {})}});
    RequestBuffer connect{};
    BuildConnectRequest(connect);
    transaction.RunTransaction(connect);
    RequestBuffer write{};
    write[kOffsetPayload] = 0x12;
    write[kOffsetPayload + 1] = 0x34;
    ASSERT_TRUE(BuildWriteRequest(4, 2, write));
    transaction.RunTransaction(write);
    RunRead(7);

    EXPECT_EQ(ui.exchangeHistory,
              (QStringList{"Send OBJ/W 1", "Send OBJ/W 4", "Send OBJ/R 7", "No Response from device"}));
    const auto requests = instrument.requests();
    ASSERT_GE(requests.size(), 2u);
    EXPECT_EQ(requests[1].frame, Bytes(write.begin(), write.begin() + 11)) << "the payload travels as built";
}

TEST_F(TransactionTest, LateAnswerOfAnotherObjectIsPassedOverWithinTheAttempt)
{
    const Bytes stale = InstrumentFrame(2, 0xC0, kIdentityPayload);
    const Bytes clock = InstrumentFrame(3, 0xC0, {1, 2, 3, 4});
    Bytes both = stale;
    both.insert(both.end(), clock.begin(), clock.end());
    instrument.script({{both}});

    RunRead(3);

    EXPECT_EQ(instrument.requests().size(), 1u);
    EXPECT_EQ(transaction.Result().ResponseStatus, 1);
    EXPECT_EQ(ReceivedFrame(), clock);
}

TEST_F(TransactionTest, LateAnswerAloneDoesNotEndTheAttemptButAnErrorReportDoes)
{
    const Bytes stale = InstrumentFrame(2, 0xC0, kIdentityPayload);
    const Bytes report = InstrumentFrame(kObjectErrorReport, 0x80, {});
    instrument.script({{stale}, {report}});

    RunRead(3);

    const auto requests = instrument.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_GE(requests[1].at - requests[0].at, 2 * tick) << "the stale frame did not end the first attempt";
    EXPECT_EQ(transaction.Result().ResponseStatus, 1);
    EXPECT_EQ(ReceivedFrame(), report);
}

// Every answer of this instrument comes long after its attempt gave up: the
// read is sent again and takes the first attempt's answer, while the second
// attempt's answer is still on its way. The next read of the same object must
// not take that one, which tells the instrument's state before the write that
// came between.
TEST_F(TransactionTest, LateAnswersOfEarlierAttemptsAreNotTakenByTheNextRequestOfTheObject)
{
    tick = 50ms; // an attempt waits 150 ms
    transaction.SetTickLength(tick);
    const Bytes before = InstrumentFrame(31, 0xC0, {0x95, 30});
    const Bytes after = InstrumentFrame(31, 0xC0, {0x95, 12});
    // The instrument works on one request at a time: the first read's answer
    // after 250 ms, the answer to its second attempt 100 ms later, then the
    // next read's answer at once.
    instrument.script({{before, 250ms}, {before, 100ms}, {after}});

    RunRead(31);
    ASSERT_EQ(ReceivedFrame(), before);
    transaction.TakeAnswer();
    const auto firstTaken = Clock::now();
    RunRead(31);

    EXPECT_EQ(ReceivedFrame(), after) << "the second attempt's late answer was taken for the next read";
    const auto requests = instrument.requests();
    ASSERT_EQ(requests.size(), 3u);
    EXPECT_GE(std::chrono::duration_cast<std::chrono::milliseconds>(requests[2].at - firstTaken).count(), 150)
        << "the next read went out while answers were still owed";
    EXPECT_FALSE(transaction.Result().Failed());
}

// After an exchange that needed one attempt nothing is owed: the next
// request of the same object goes out at once.
TEST_F(TransactionTest, AnAnswerAtTheFirstAttemptLetsTheNextRequestGoAtOnce)
{
    tick = 50ms;
    transaction.SetTickLength(tick);
    const Bytes answer = InstrumentFrame(31, 0xC0, {0x95, 30});
    instrument.script({{answer}, {answer}});

    RunRead(31);
    transaction.TakeAnswer();
    const auto firstTaken = Clock::now();
    RunRead(31);

    const auto requests = instrument.requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(requests[1].at - firstTaken).count(), tick.count());
    EXPECT_EQ(ReceivedFrame(), answer);
}

TEST_F(TransactionTest, ExchangeStartedFromInsideTheWaitIsRefusedAndTheOuterReadGoesOn)
{
    const Bytes clock = InstrumentFrame(3, 0xC0, {1, 2, 3, 4});
    instrument.script({{clock}});
    bool refused = false;
    QTimer::singleShot(0, [&] {
        try {
            RunRead(4);
        } catch (const std::logic_error &) {
            refused = true;
        }
    });

    RunRead(3);

    EXPECT_TRUE(refused) << "a second exchange ran inside the wait";
    EXPECT_EQ(transaction.Result().ResponseStatus, 1);
    EXPECT_EQ(ReceivedFrame(), clock);
    EXPECT_EQ(instrument.requests().size(), 1u) << "nothing of the refused read reached the wire";
}

TEST_F(TransactionTest, AnswerFollowedByNoiseInTheSameChunkIsTaken)
{
    Bytes answerAndNoise = InstrumentFrame(2, 0xC0, kIdentityPayload);
    const Bytes answer = answerAndNoise;
    answerAndNoise.insert(answerAndNoise.end(), 65, 0x00);
    instrument.script({{answerAndNoise}});

    RunRead(2);

    EXPECT_EQ(instrument.requests().size(), 1u);
    EXPECT_EQ(transaction.Result().ResponseStatus, 1);
    EXPECT_EQ(ReceivedFrame(), answer);
    const ReceiveBuffer taken = transaction.TakeAnswer();
    EXPECT_EQ(taken.count, answer.size());
    EXPECT_FALSE(transaction.Result().AwaitingResponse);
    EXPECT_EQ(transaction.Received().count, 0);
}

TEST_F(TransactionTest, CancelFromAnotherThreadEndsTheWaitAtOnce)
{
    tick = std::chrono::milliseconds(100);
    transaction.SetTickLength(tick);
    std::thread closer([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        transaction.Cancel();
    });
    const auto start = Clock::now();

    RunRead(2);

    closer.join();
    EXPECT_LT(Clock::now() - start, tick) << "the wait slept on until the next tick";
    EXPECT_EQ(instrument.requests().size(), 1u);
    EXPECT_EQ(ui.panel(kStatusPanelExchange), "Cancel by User");
    transaction.ClearCancel();
    EXPECT_FALSE(transaction.Result().Cancelled);
}

TEST_F(TransactionTest, ArmedWaitLengthensAttemptsOfWritesOnly)
{
    // The instrument needs four and a half ticks for the work: longer than
    // one attempt of three ticks, well within the write's armed wait, and
    // halfway through a read's second attempt (an answer at exactly six
    // ticks would race the second attempt's end).
    const auto slow = 9 * tick / 2;
    RequestBuffer calibration{};
    calibration[kOffsetPayload] = 1;
    ASSERT_TRUE(BuildWriteRequest(9, 1, calibration));
    instrument.script({{InstrumentFrame(9, 0xC0, {}), slow}});
    transaction.ArmResponseTimer(20);
    transaction.RunTransaction(calibration, Transaction::AttemptWait::Armed);
    EXPECT_EQ(instrument.requests().size(), 1u) << "a slow write is not sent twice";
    EXPECT_EQ(transaction.Result().ResponseStatus, 1);

    RequestBuffer read{};
    BuildReadRequest(10, read);
    instrument.script({{InstrumentFrame(10, 0xC0, {0}), slow}, {InstrumentFrame(10, 0xC0, {0})}});
    transaction.ArmResponseTimer(20);
    transaction.RunTransaction(read, Transaction::AttemptWait::Armed);
    // The instrument notes the later requests once it is done with the first.
    SpinUntil([&] { return instrument.requests().size() >= 3; }, 5 * tick);
    EXPECT_EQ(instrument.requests().size(), 3u) << "a read keeps three ticks per attempt";
    EXPECT_EQ(transaction.Result().ResponseStatus, 1);
}

TEST_F(TransactionTest, RequestLongerThanAnAnswerCanCarryIsRefused)
{
    RequestBuffer request{};
    BuildReadRequest(2, request);
    request[kOffsetLength] = kMaxPayload + 1;

    EXPECT_THROW(transaction.RunTransaction(request), PortError);
    SpinFor(3 * tick);
    EXPECT_TRUE(instrument.requests().empty());
}

TEST_F(TransactionTest, PseudoTerminalWithoutModemLinesStillCarriesFrames)
{
    QSerialPortBackend *device = nullptr;
    SerialPort observed([&](const QString &name, const LineSettings &line) {
        auto backend = std::make_unique<QSerialPortBackend>(name, line);
        device = backend.get();
        return backend;
    });
    port.SetOpen(false);
    observed.SetPortName(instrument.devicePath());
    observed.SetOpen(true);
    Transaction overObserved(observed, ui);
    overObserved.SetTickLength(tick);
    instrument.script({{InstrumentFrame(2, 0xC0, kIdentityPayload)}});
    RequestBuffer request{};
    BuildReadRequest(2, request);

    overObserved.RunTransaction(request);

    EXPECT_EQ(overObserved.Result().ResponseStatus, 1);
    ASSERT_NE(device, nullptr);
    EXPECT_FALSE(device->requestToSendRaised()) << "no RTS line on a pseudo-terminal, and no error either";
    EXPECT_TRUE(ui.errors.isEmpty());
}

} // namespace

// The tick countdowns on their own, without a port.
TEST(TransactionCountdowns, TickRulesOfBudgetReconnectAndPoll)
{
    EnsureApplication();
    RecordingUi ui;
    SerialPort port([](const QString &, const LineSettings &) { return std::make_unique<MemoryDevice>(); });
    Transaction transaction(port, ui);
    EXPECT_EQ(transaction.PollTicks(), Transaction::kPollTicksAtStart);
    EXPECT_FALSE(transaction.Ticking()) << "the first arming starts Timer1";

    // Nothing awaited: polling counts down, the budget runs out without a time-out.
    transaction.ArmResponseTimer(2);
    EXPECT_TRUE(transaction.Ticking());
    transaction.StopTicking();
    transaction.HandleTick();
    transaction.HandleTick();
    transaction.HandleTick();
    EXPECT_EQ(transaction.ResponseBudget(), 0);
    EXPECT_FALSE(transaction.Result().TimedOut);
    EXPECT_EQ(transaction.ReconnectTicks(), 10);
    EXPECT_EQ(transaction.PollTicks(), 2);

    // Awaiting: polling stands, the time-out comes with the last budget tick.
    // A read that nobody answers leaves its answer owed.
    port.SetPortName(QStringLiteral("memory"));
    port.SetOpen(true);
    transaction.SetTickLength(std::chrono::milliseconds(1));
    RequestBuffer request{};
    BuildReadRequest(2, request);
    transaction.RunTransaction(request);
    ASSERT_TRUE(transaction.Result().AwaitingResponse);
    transaction.SetPollTicks(2);
    transaction.ArmResponseTimer(1);
    transaction.StopTicking();
    transaction.HandleTick();
    EXPECT_TRUE(transaction.Result().TimedOut);
    EXPECT_EQ(transaction.ReconnectTicks(), 9);
    EXPECT_EQ(transaction.PollTicks(), 2);

    // Zero ticks means timed out at once.
    transaction.StopAwaiting();
    transaction.ArmResponseTimer(0);
    EXPECT_TRUE(transaction.Result().TimedOut);
    transaction.StopTicking();
}

// An answer that completes in the same pass of the event loop as the
// attempt's last tick is the answer, whichever of the two is handled first:
// it is taken, the request is not sent again and the exchange has not failed.
TEST(TransactionDeadline, AnAnswerCompletingWithTheLastTickIsTaken)
{
    EnsureApplication();
    RecordingUi ui;
    MemoryDevice *device = nullptr;
    SerialPort port([&device](const QString &, const LineSettings &) {
        auto memory = std::make_unique<MemoryDevice>();
        device = memory.get();
        return memory;
    });
    port.SetPortName(QStringLiteral("memory"));
    port.SetOpen(true);
    ASSERT_NE(device, nullptr);
    Transaction transaction(port, ui);
    transaction.SetTickLength(std::chrono::hours(1)); // the test ticks by hand
    const Bytes frame = InstrumentFrame(2, 0xC0, kIdentityPayload);
    const QByteArray answer(reinterpret_cast<const char *>(frame.data()), static_cast<qsizetype>(frame.size()));

    for (const bool answerFirst : {true, false}) {
        SCOPED_TRACE(answerFirst ? "answer, then the last tick" : "the last tick, then the answer");
        device->writes.clear();
        QTimer::singleShot(0, [&] {
            if (answerFirst)
                device->receive(answer);
            for (int tick = 0; tick < Transaction::kAttemptTicks; ++tick)
                transaction.HandleTick();
            if (!answerFirst)
                device->receive(answer);
        });
        RequestBuffer request{};
        BuildReadRequest(2, request);
        transaction.ArmResponseTimer(Transaction::kAttemptTicks);
        transaction.RunTransaction(request);

        EXPECT_EQ(device->writes.size(), 1) << "the answer was there, yet the request went out again";
        EXPECT_EQ(transaction.Result().ResponseStatus, 1);
        EXPECT_FALSE(transaction.Result().Failed());
        EXPECT_EQ(ui.panel(kStatusPanelExchange), "Send OBJ/R 2");
        transaction.TakeAnswer();
    }
    transaction.StopTicking();
}
