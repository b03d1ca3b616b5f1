#include "Transaction.h"

#include "SerialPort.h"
#include "ExchangeReport.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QEventLoop>

#include <algorithm>
#include <array>
#include <stdexcept>

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

Transaction::Transaction(SerialPort &port, ExchangeReport &ui, QObject *parent)
    : QObject(parent), port_(port), ui_(ui)
{
    tickTimer_.setTimerType(Qt::PreciseTimer);
    tickTimer_.setInterval(kDefaultTick);
    connect(&tickTimer_, &QTimer::timeout, this, &Transaction::HandleTick);
    connect(&port_, &SerialPort::BytesAvailable, this, &Transaction::HandleBytesAvailable);
}

Transaction::~Transaction() = default;

void Transaction::SetTickLength(std::chrono::milliseconds tick)
{
    tickTimer_.setInterval(tick);
}

std::chrono::milliseconds Transaction::TickLength() const
{
    return tickTimer_.intervalAsDuration();
}

void Transaction::RunTransaction(const std::uint8_t *request, AttemptWait wait, int maxAttempts)
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

    if (waiting_)
        throw std::logic_error("an exchange was started from inside the wait of another");
    lastRequestObject_ = request[kOffsetObject];
    if (!port_.Open()) {
        ui_.showError(kClosedPortMessage);
        return;
    }
    // A cancelled connection sends nothing more: the wait would end at once
    // anyway, and a request without anyone waiting for its answer would
    // only leave an answer on the line for the next one.
    if (Cancelled()) {
        // As after a cancelled wait: no answer, so every caller's test fails.
        result_.ResponseStatus = kAssembleIncomplete;
        ui_.setStatusText(kStatusPanelExchange, kCancelledText);
        return;
    }
    const std::uint8_t object = frame[kOffsetObject];
    const std::uint8_t flags = frame[kOffsetFlags];
    ui_.setStatusText(kStatusPanelExchange, SendText(object, flags));

    const bool isWrite = (flags & kFlagWriteBit) != 0;
    const std::int32_t attemptTicks =
        (wait == AttemptWait::Armed && isWrite) ? std::max(kAttemptTicks, commandTicks_) : kAttemptTicks;
    const int attemptLimit = std::clamp(maxAttempts, 1, kMaxAttempts);

    struct WaitingFlag {
        bool &flag;
        explicit WaitingFlag(bool &f) : flag(f) { flag = true; }
        ~WaitingFlag() { flag = false; }
    };
    {
        const WaitingFlag waiting(waiting_);
        letOwedAnswersPass(object);
    }
    if (Cancelled())
        result_.ResponseStatus = kAssembleIncomplete; // as after a cancelled wait: no answer
    using Clock = std::chrono::steady_clock;
    Clock::time_point firstSent;
    Clock::time_point lastSent;
    int attempts = 0;
    while (attempts < attemptLimit && !Cancelled()) {
        if (isWrite && writeCheck_) {
            if (!writeAllowed()) {
                // Nothing of this attempt went out: as after an attempt without an answer.
                received_.count = 0;
                result_.ResponseStatus = kAssembleIncomplete;
                result_.TimedOut = true;
                break;
            }
            lastRequestObject_ = object;
            ui_.setStatusText(kStatusPanelExchange, SendText(object, flags));
        }
        const WaitingFlag waiting(waiting_);
        expectedObject_ = object;
        lastSent = Clock::now();
        if (attempts++ == 0)
            firstSent = lastSent;
        sendAttempt(frame.data(), length, attemptTicks);
        waitForAnswer();
        if (Cancelled() || result_.ResponseStatus > 0)
            break;
    }
    if (result_.ResponseStatus == kAssembleGood)
        noteOwedAnswers(object, attempts, firstSent, lastSent);

    if (Cancelled())
        ui_.setStatusText(kStatusPanelExchange, kCancelledText);
    else if (result_.TimedOut)
        ui_.setStatusText(kStatusPanelExchange, kNoResponseText);
}

bool Transaction::writeAllowed()
{
    // The check may run its own reads: they arm their own ticks, which the
    // write's later attempts must not inherit.
    const std::int32_t commandTicks = commandTicks_;
    const bool allowed = writeCheck_();
    commandTicks_ = commandTicks;
    return allowed && !Cancelled();
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
    while (result_.ResponseStatus == kAssembleIncomplete && !result_.TimedOut && !Cancelled())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
}

void Transaction::letOwedAnswersPass(std::uint8_t object)
{
    const auto owed = owedUntil_.find(object);
    if (owed == owedUntil_.end())
        return;
    const auto until = owed->second;
    owedUntil_.erase(owed);
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(until - std::chrono::steady_clock::now());
    if (left.count() <= 0)
        return;
    // The wait must end even if the tick has been stopped.
    QTimer wake;
    wake.setSingleShot(true);
    wake.start(left);
    passingOver_ = true;
    while (std::chrono::steady_clock::now() < until && !Cancelled())
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    passingOver_ = false;
}

void Transaction::noteOwedAnswers(std::uint8_t object, int attempts, std::chrono::steady_clock::time_point firstSent,
                                  std::chrono::steady_clock::time_point lastSent)
{
    if (attempts <= 1)
        return;
    // The answer taken may be the first attempt's, late by as much as it
    // came after it; the later attempts' answers then follow as far apart as
    // the attempts were sent, the last one by (lastSent - firstSent) after it.
    owedUntil_[object] = std::chrono::steady_clock::now() + (lastSent - firstSent) + TickLength();
}

TransactionResult Transaction::Result() const
{
    TransactionResult result = result_;
    result.Cancelled = Cancelled();
    return result;
}

ReceiveBuffer Transaction::TakeAnswer()
{
    const ReceiveBuffer answer = received_;
    received_.count = 0;
    result_.AwaitingResponse = false;
    return answer;
}

void Transaction::Cancel()
{
    cancelled_.store(true);
    // Wakes the wait if it sleeps in the event loop of the transaction's thread.
    if (QAbstractEventDispatcher *dispatcher = QAbstractEventDispatcher::instance(thread()))
        dispatcher->wakeUp();
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
    tickTimer_.stop();
    responseBudget_ = ticks;
    result_.TimedOut = (ticks == 0);
    reconnectTicks_ = kReconnectTicksArmed;
    tickTimer_.start();
}

void Transaction::HandleTick()
{
    if (responseBudget_ > 0)
        --responseBudget_;
    // An attempt that has its answer cannot time out any more.
    result_.TimedOut =
        (responseBudget_ == 0 && result_.AwaitingResponse && result_.ResponseStatus != kAssembleGood);
    if (reconnectTicks_ > 0 && result_.TimedOut)
        --reconnectTicks_;
    if (pollTicks_ > 0 && !result_.AwaitingResponse)
        --pollTicks_;
}

void Transaction::HandleBytesAvailable(quint16 count)
{
    quint16 i = 0;
    for (; i < count && port_.BytesWaiting() > 0; ++i) {
        // Once the attempt has its answer, the bytes behind it in the same
        // notification belong to no request: fed on, 64 of them would reset
        // the buffer before the answer is taken. Answers still owed to an
        // earlier exchange belong to none either.
        if (passingOver_ || result_.ResponseStatus == kAssembleGood) {
            port_.ReadByte();
            continue;
        }
        result_.ResponseStatus = AssembleByte(port_.ReadByte(), received_);
        // A complete answer of another object (a late answer to an earlier
        // request) is not this request's answer: pass it over and go on
        // collecting within the same attempt.
        if (result_.ResponseStatus == kAssembleGood && !acceptsObject(received_.bytes[kOffsetObject])) {
            received_.count = 0;
            result_.ResponseStatus = kAssembleIncomplete;
        }
        // The answer came: a time-out in the same pass of the event loop,
        // before or after it, does not undo it.
        if (result_.ResponseStatus == kAssembleGood)
            result_.TimedOut = false;
    }
}

} // namespace r310
