#pragma once
// One request, one answer: sends a finished request frame, waits for the
// answer, sends the identical frame again when no valid answer comes, and
// leaves the outcome in TransactionResult.
// Also keeps the 100 ms tick with the per-attempt time-out and the two
// slower countdowns the idle poll uses (PollTicks, ReconnectTicks).
//
// The wait runs the event loop of the thread the transaction lives on, which
// is the protocol engine's thread: only the port's notifications and the tick
// are handled there, so nothing else runs inside a wait. Exchanges never nest;
// a transaction started from inside a wait is refused. Cancel() may be called
// from any thread.
#include "R310_typ.h"

#include <QObject>
#include <QTimer>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>

namespace r310 {

class SerialPort;
class ExchangeReport;

struct TransactionResult {
    // Last AssembleByte verdict: 0 no complete answer, 1 good answer in the
    // receive buffer, -2 complete answer with a wrong CRC.
    std::int32_t ResponseStatus = 0;
    // The current attempt ran out of ResponseBudget while an answer was awaited.
    bool TimedOut = false;
    // A request was sent and its answer has not been taken yet (the decoder clears it).
    bool AwaitingResponse = false;
    // The user closed the port or the window; ends any wait at once.
    bool Cancelled = false;

    // The standard test every read makes after RunTransaction.
    bool Failed() const { return (AwaitingResponse && TimedOut) || ResponseStatus <= 0; }
};

class Transaction : public QObject {
    Q_OBJECT
public:
    static constexpr std::chrono::milliseconds kDefaultTick{100};
    static constexpr std::int32_t kAttemptTicks = 3;
    static constexpr int kMaxAttempts = 5;
    static constexpr std::int32_t kReconnectTicksArmed = 10;
    static constexpr std::int32_t kPollTicksAfterSend = 10;
    static constexpr std::int32_t kPollTicksAtStart = 5;

    // How long each attempt waits.
    enum class AttemptWait {
        // 3 ticks, whatever the command armed.
        Standard,
        // For a write request (flags bit 6): the ticks the command last passed
        // to ArmResponseTimer, at least 3, so a slow write (calibration,
        // factory setup) is not sent again while the instrument still works
        // on it. A read keeps 3 ticks.
        Armed,
    };

    // The port and the screen seam must outlive the transaction.
    Transaction(SerialPort &port, ExchangeReport &ui, QObject *parent = nullptr);
    ~Transaction() override;

    // Length of one tick (100 ms in the product; tests use less).
    void SetTickLength(std::chrono::milliseconds tick);
    std::chrono::milliseconds TickLength() const;

    // Sends the finished frame at request (its N + 9 bytes are copied, so the
    // caller may reuse its buffer) and waits for the answer, up to 5 attempts.
    // With the port closed shows "Comport nicht geöffnet!" and sends nothing.
    // Throws PortError when the port refuses the frame, and for a frame whose
    // payload length exceeds 64 (nothing is sent).
    // Only an answer of the request's object or an error report (0xF0) ends an
    // attempt; a complete answer of another object is passed over. An answer
    // that arrives together with the attempt's last tick is taken. When the
    // last exchange of the same object needed more than one attempt, the
    // answers to its earlier attempts may still come: the request waits as
    // long as they took apart (plus a tick), passing over what arrives, so
    // none is taken for this request's answer. Throws std::logic_error when
    // called from inside another transaction's wait. maxAttempts (1 to 5)
    // sends a write that must not be repeated soon fewer times.
    // A write request (flags bit 6) is sent only after the write check, when
    // one is set, allowed it: before the first attempt and again before every
    // further attempt, so a write that got no answer is sent again only to
    // the instrument it was made for. A refused check ends the transaction
    // with nothing sent in that attempt and no answer.
    void RunTransaction(const std::uint8_t *request, AttemptWait wait = AttemptWait::Standard,
                        int maxAttempts = kMaxAttempts);
    void RunTransaction(const RequestBuffer &request, AttemptWait wait = AttemptWait::Standard,
                        int maxAttempts = kMaxAttempts)
    {
        RunTransaction(request.data(), wait, maxAttempts);
    }

    // Runs before each attempt of a write; false keeps the write off the
    // wire. It may run exchanges of its own (reads) on this transaction.
    using WriteCheck = std::function<bool()>;
    void SetWriteCheck(WriteCheck check) { writeCheck_ = std::move(check); }

    // Sets ResponseBudget to ticks, TimedOut to (ticks == 0), ReconnectTicks to
    // 10 and restarts the tick with a fresh period.
    void ArmResponseTimer(std::int32_t ticks);
    // The tick handler: counts the countdowns down.
    void HandleTick();
    // The port's notification: feeds count received bytes to the assembler.
    void HandleBytesAvailable(quint16 count);

    // The outcome of the last transaction (Cancelled as it stands now).
    TransactionResult Result() const;
    // The receive buffer: after success the answer frame.
    const ReceiveBuffer &Received() const { return received_; }
    // The object of the last request handed to RunTransaction, sent or not:
    // what an error report in the receive buffer answers.
    std::uint8_t LastRequestObject() const { return lastRequestObject_; }
    // The decoder takes the answer: a copy of the receive buffer is returned,
    // the buffer is emptied and no answer is awaited any more, which lets the
    // poll countdown run again.
    ReceiveBuffer TakeAnswer();
    // No answer is awaited any more although none was taken (a failed connect
    // request), so the poll countdown runs and the next poll tries again.
    void StopAwaiting() { result_.AwaitingResponse = false; }

    // Ends any wait at once and makes every later wait end at once, until
    // ClearCancel (opening a port). Safe from any thread.
    void Cancel();
    void ClearCancel() { cancelled_.store(false); }
    bool Cancelled() const { return cancelled_.load(); }

    std::int32_t ResponseBudget() const { return responseBudget_; }
    std::int32_t ReconnectTicks() const { return reconnectTicks_; }
    std::int32_t PollTicks() const { return pollTicks_; }
    void SetPollTicks(std::int32_t ticks) { pollTicks_ = ticks; }

    // The tick runs from the first ArmResponseTimer on; the search stops it when
    // the user cancels, the window stops it at creation.
    void StopTicking() { tickTimer_.stop(); }
    bool Ticking() const { return tickTimer_.isActive(); }

private:
    void arm(std::int32_t ticks);
    void sendAttempt(const std::uint8_t *frame, int length, std::int32_t ticks);
    void waitForAnswer();
    bool acceptsObject(std::uint8_t object) const;
    void letOwedAnswersPass(std::uint8_t object);
    bool writeAllowed();
    void noteOwedAnswers(std::uint8_t object, int attempts, std::chrono::steady_clock::time_point firstSent,
                         std::chrono::steady_clock::time_point lastSent);

    SerialPort &port_;
    ExchangeReport &ui_;
    QTimer tickTimer_;
    std::uint8_t lastRequestObject_ = 0;
    TransactionResult result_;
    ReceiveBuffer received_;
    std::int32_t responseBudget_ = 0;
    std::int32_t reconnectTicks_ = 0;
    std::int32_t pollTicks_ = kPollTicksAtStart;
    std::int32_t commandTicks_ = kAttemptTicks;
    // Object of the request in flight; answers of other objects are passed over.
    std::optional<std::uint8_t> expectedObject_;
    std::atomic<bool> cancelled_{false};
    bool waiting_ = false;
    // Until when answers to earlier attempts of an object's last exchange may
    // still arrive, by object; while they pass, every byte is passed over.
    std::map<std::uint8_t, std::chrono::steady_clock::time_point> owedUntil_;
    bool passingOver_ = false;
    WriteCheck writeCheck_;
};

} // namespace r310
