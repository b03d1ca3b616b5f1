#include "Transaction.h"

#include "ApdComPort.h"
#include "LinkUi.h"

#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <array>

namespace r310 {

namespace {

const QString kClosedPortMessage = QStringLiteral("Comport nicht geöffnet!");
const QString kNoResponseText = QStringLiteral("No Response from device");
const QString kCancelledText = QStringLiteral("Cancel by User");

QString SendText(std::uint8_t object, std::uint8_t flags)
{
    const QChar direction = (flags & kFlagWriteBit) ? QLatin1Char('W') : QLatin1Char('R');
    return QStringLiteral("Send OBJ/%1 %2").arg(direction).arg(object);
}

} // namespace

Transaction::Transaction(ApdComPort &port, LinkUi &ui, QObject *parent)
    : QObject(parent), port_(port), ui_(ui)
{
    timer1_.setTimerType(Qt::PreciseTimer);
    timer1_.setInterval(kDefaultTick);
    connect(&timer1_, &QTimer::timeout, this, &Transaction::Timer1Timer);
    connect(&port_, &ApdComPort::OnTriggerAvail, this, &Transaction::ApdComPort1TriggerAvail);
}

Transaction::~Transaction() = default;

void Transaction::SetTickLength(std::chrono::milliseconds tick)
{
    timer1_.setInterval(tick);
}

std::chrono::milliseconds Transaction::TickLength() const
{
    return timer1_.intervalAsDuration();
}

void Transaction::RunTransaction(const std::uint8_t *request, AttemptWait wait)
{
    // A payload longer than an answer frame could carry is a broken request;
    // sending it would read past the 73 bytes the frame may occupy.
    if (request[kOffsetLength] > kMaxPayload)
        throw PortError(tr("Request for object %1 is too long: %2 payload bytes")
                            .arg(request[kOffsetObject])
                            .arg(request[kOffsetLength]));
    // The copy is what is sent, so the caller may reuse its buffer meanwhile.
    std::array<std::uint8_t, kMaxFrame> frame{};
    const int length = FrameLength(request);
    std::copy_n(request, length, frame.begin());

    if (!port_.Open()) {
        ui_.showError(kClosedPortMessage);
        return;
    }
    const std::uint8_t object = frame[kOffsetObject];
    const std::uint8_t flags = frame[kOffsetFlags];
    ui_.setStatusText(kStatusPanelExchange, SendText(object, flags));
    ui_.repaint();

    const bool isWrite = (flags & kFlagWriteBit) != 0;
    const std::int32_t attemptTicks =
        (wait == AttemptWait::Armed && isWrite) ? std::max(kAttemptTicks, commandTicks_) : kAttemptTicks;

    // A command started from inside this wait runs its own transaction; when it
    // returns, this one waits for its own object again.
    const std::optional<std::uint8_t> outerObject = expectedObject_;
    const bool nested = nesting_ > 0;
    ++nesting_;
    ++transactionsStarted_;
    expectedObject_ = object;
    try {
        for (int attempt = 0; attempt < kMaxAttempts; ++attempt) {
            sendAttempt(frame.data(), length, attemptTicks);
            waitForAnswer();
            if (result_.Cancelled || result_.ResponseStatus > 0)
                break;
        }
    } catch (...) {
        --nesting_;
        if (nested)
            expectedObject_ = outerObject;
        throw;
    }
    --nesting_;
    if (nested)
        expectedObject_ = outerObject;

    if (result_.Cancelled)
        ui_.setStatusText(kStatusPanelExchange, kCancelledText);
    else if (result_.TimedOut)
        ui_.setStatusText(kStatusPanelExchange, kNoResponseText);
    ui_.repaint();
}

void Transaction::sendAttempt(const std::uint8_t *frame, int length, std::int32_t ticks)
{
    arm(ticks);
    port_.WriteBlock(frame, static_cast<std::uint16_t>(length));
    // Bytes still waiting in the port are not flushed: they pass the assembler,
    // whose header matching sorts them out.
    received_.count = 0;
    result_.ResponseStatus = kAssembleIncomplete;
    result_.AwaitingResponse = true;
    pollTicks_ = kPollTicksAfterSend;
}

void Transaction::waitForAnswer()
{
    while (result_.ResponseStatus == kAssembleIncomplete && !result_.TimedOut && !result_.Cancelled) {
        const int startedBefore = transactionsStarted_;
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
        if (transactionsStarted_ == startedBefore)
            continue;
        // A command run from inside this wait sent its own request, and its
        // caller may have taken the answer (which clears AwaitingResponse).
        // This request is still unanswered: without the flag its attempt
        // could never time out, and the wait would never end.
        result_.AwaitingResponse = true;
        if (result_.ResponseStatus == kAssembleGood && !acceptsObject(received_.bytes[kOffsetObject])) {
            received_.count = 0;
            result_.ResponseStatus = kAssembleIncomplete;
        }
    }
}

bool Transaction::acceptsObject(std::uint8_t object) const
{
    return !expectedObject_ || object == *expectedObject_ || object == kObjectErrorReport;
}

void Transaction::ArmResponseTimer(std::int32_t ticks)
{
    commandTicks_ = ticks;
    arm(ticks);
}

void Transaction::arm(std::int32_t ticks)
{
    timer1_.stop();
    responseBudget_ = ticks;
    result_.TimedOut = (ticks == 0);
    reconnectTicks_ = kReconnectTicksArmed;
    timer1_.start();
}

void Transaction::Timer1Timer()
{
    if (responseBudget_ > 0)
        --responseBudget_;
    result_.TimedOut = (responseBudget_ == 0 && result_.AwaitingResponse);
    if (reconnectTicks_ > 0 && result_.TimedOut)
        --reconnectTicks_;
    if (pollTicks_ > 0 && !result_.AwaitingResponse)
        --pollTicks_;
}

void Transaction::ApdComPort1TriggerAvail(quint16 count)
{
    for (quint16 i = 0; i < count && port_.InBuffUsed() > 0; ++i) {
        result_.ResponseStatus = AssembleByte(port_.ReadByte(), received_);
        // A complete answer of another object (a late answer to an earlier
        // request) is not this request's answer: pass it over and go on
        // collecting within the same attempt.
        if (result_.ResponseStatus == kAssembleGood && !acceptsObject(received_.bytes[kOffsetObject])) {
            received_.count = 0;
            result_.ResponseStatus = kAssembleIncomplete;
        }
    }
}

} // namespace r310
