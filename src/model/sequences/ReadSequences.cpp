#include "ReadSequences.h"

#include "SerialPort.h"
#include "SekDate.h"
#include "Transaction.h"

#include <cstdlib>
#include <utility>

namespace r310 {

namespace {

const QString kSearchText = QStringLiteral("Search");
const QString kConnectText = QStringLiteral("Connect");

} // namespace

ReadSequences::ReadSequences(SerialPort &port, Transaction &transaction, const AnswerDecoder &decoder,
                             InstrumentRecord &record, InstrumentView &view)
    : port_(port), transaction_(transaction), decoder_(decoder), record_(record), view_(view),
      pcSeconds_(&SysTimeSek)
{
}

void ReadSequences::SetPcClock(std::function<std::int32_t()> pcSeconds)
{
    pcSeconds_ = pcSeconds ? std::move(pcSeconds) : std::function<std::int32_t()>(&SysTimeSek);
}

std::uint8_t ReadSequences::LastRequestObject() const
{
    return transaction_.LastRequestObject();
}

bool ReadSequences::Cancelled() const
{
    return transaction_.Cancelled();
}

bool ReadSequences::Exchange(const RequestBuffer &request)
{
    // With the port closed the transaction shows its message and sends
    // nothing; the receive buffer then holds no answer to this request.
    const bool portOpen = port_.Open();
    transaction_.ArmResponseTimer(kReadArmTicks);
    transaction_.RunTransaction(request);
    return portOpen;
}

bool ReadSequences::ExchangeFailed(bool cancelIsFailure) const
{
    const TransactionResult result = transaction_.Result();
    return result.Failed() || (cancelIsFailure && result.Cancelled);
}

bool ReadSequences::ReadObject(std::uint8_t object)
{
    RequestBuffer request{};
    BuildReadRequest(object, request);
    if (!Exchange(request) || ExchangeFailed(false)) {
        view_.SetLamp(LampColour::Red);
        return false;
    }
    DecodeAnswer();
    return true;
}

bool ReadSequences::ReadIdentity() { return ReadObject(kObjectIdentity); }
bool ReadSequences::ReadValue() { return ReadObject(kObjectValue); }
bool ReadSequences::ReadRange() { return ReadObject(kObjectRange); }
bool ReadSequences::ReadSignals() { return ReadObject(kObjectSignals); }
bool ReadSequences::ReadHardware() { return ReadObject(kObjectHardware); }
bool ReadSequences::ReadEventProperties() { return ReadObject(kObjectEventProperties); }
bool ReadSequences::ReadLoggerInfo() { return ReadObject(kObjectLoggerInfo); }
bool ReadSequences::ReadCalibrationState() { return ReadObject(kObjectCalibrationState); }
bool ReadSequences::ReadBumpResult() { return ReadObject(kObjectBumpResult); }
bool ReadSequences::ReadBumpState() { return ReadObject(kObjectBumpState); }

ReadSequences::ClockReading ReadSequences::ReadClockOnce()
{
    RequestBuffer request{};
    BuildReadRequest(kObjectClock, request);
    if (!Exchange(request) || ExchangeFailed(true)) {
        view_.SetLamp(LampColour::Red);
        return ClockReading::Failed;
    }
    const DecodedAnswer answer = DecodeAnswer();
    // Only a clock data answer is compared: an error report in its place
    // carries no time, and must not make us write the instrument's clock.
    if (!answer.clock)
        return ClockReading::NotAClock;
    // The instrument's count is taken unsigned, so a value with its top bit
    // set is far off and always differs.
    const std::int64_t difference =
        static_cast<std::int64_t>(answer.clock->rawSeconds) - static_cast<std::int64_t>(pcSeconds_());
    return std::llabs(difference) <= kClockTolerance ? ClockReading::Agrees : ClockReading::Differs;
}

bool ReadSequences::WriteClock()
{
    RequestBuffer request{};
    const auto now = static_cast<std::uint32_t>(pcSeconds_());
    for (int i = 0; i < kClockSize; ++i)
        request[kOffsetPayload + i] = static_cast<std::uint8_t>(now >> (8 * i));
    BuildWriteRequest(kObjectClock, kClockSize, request);
    const bool sent = Exchange(request);
    if (sent)
        ++clockWrites_;
    if (!sent || ExchangeFailed(true)) {
        view_.SetLamp(LampColour::Red);
        return false;
    }
    DecodeAnswer();
    return true;
}

bool ReadSequences::ClockCheck(bool writeFirst)
{
    int writes = 0;
    bool write = writeFirst;
    for (;;) {
        if (write) {
            if (!WriteClock())
                return false;
            ++writes;
        }
        switch (ReadClockOnce()) {
        case ClockReading::Failed:
            return false;
        case ClockReading::NotAClock:
            return ReadValue();
        case ClockReading::Agrees:
            clockWritesRefused_ = false;
            return ReadValue();
        case ClockReading::Differs:
            if (clockWritesRefused_)
                return ReadValue();
            if (writes >= kMaxClockWrites) {
                // The instrument takes the write but keeps its own time:
                // writing once a second would not change that.
                clockWritesRefused_ = true;
                view_.ShowClockNotTaken();
                return ReadValue();
            }
            write = true;
            break;
        }
    }
}

bool ReadSequences::ReadClock()
{
    return ClockCheck(false);
}

bool ReadSequences::SetClock()
{
    clockWritesRefused_ = false;
    return ClockCheck(true);
}

void ReadSequences::ClearInstrumentDisplay()
{
    record_.ClearConnectionValues();
    view_.ClearInstrumentDisplay();
    view_.ResetResultBackground();
    view_.SetLamp(LampColour::Red);
    view_.SetCalibrationButtonsEnabled(false);
}

bool ReadSequences::SearchInstrument()
{
    ClearInstrumentDisplay();
    view_.setStatusText(kStatusPanelPhase, kSearchText);
    view_.ShowPhase(ConnectionPhase::Searching);
    for (;;) {
        RequestBuffer request{};
        BuildConnectRequest(request);
        // A port that is closed (or failed and closed itself) ends the search
        // as the close-port command does; searching on it would only repeat
        // the closed-port message.
        if (!Exchange(request) || !port_.Open())
            transaction_.Cancel();
        const TransactionResult result = transaction_.Result();
        if (result.Failed())
            view_.SetLamp(LampColour::Red);
        if (result.ResponseStatus == kAssembleGood || result.Cancelled)
            break;
    }
    bool found = false;
    if (Cancelled()) {
        transaction_.StopTicking();
        view_.ClosePortAfterCancel();
    } else {
        view_.SetLamp(LampColour::LimeGreen);
        DecodeAnswer();
        view_.SetCalibrationButtonsEnabled(true);
        found = true;
    }
    view_.setStatusText(kStatusPanelPhase, kConnectText);
    return found;
}

bool ReadSequences::ConnectSequence()
{
    clockWrites_ = 0;
    clockWritesRefused_ = false;
    RequestBuffer request{};
    BuildConnectRequest(request);
    if (!Exchange(request) || ExchangeFailed(false)) {
        view_.SetLamp(LampColour::Red);
        // Lets the poll countdown run, so the next poll tries again.
        transaction_.StopAwaiting();
        return false;
    }
    DecodeAnswer();
    ReadIdentity();
    // A port closed meanwhile ends the sequence: the instrument is not
    // connected, and further reads would only meet the closed port.
    if (Cancelled())
        return false;
    record_.InstrumentConnected = true;
    view_.ShowPhase(ConnectionPhase::Connected);
    ReadClock();
    if (Cancelled())
        return false;
    ReadSelectedTab();
    return !Cancelled();
}

void ReadSequences::ReadSelectedTab()
{
    if (!port_.Open() || !record_.InstrumentConnected)
        return;
    const InstrumentTab tab = view_.ShowingTab();
    if (tab != InstrumentTab::Calibration)
        view_.ResetResultBackground();
    switch (tab) {
    case InstrumentTab::General:
        ReadIdentity();
        break;
    case InstrumentTab::Range:
        ReadRange();
        break;
    case InstrumentTab::Signals:
        ReadSignals();
        break;
    case InstrumentTab::Hardware:
        ReadHardware();
        break;
    case InstrumentTab::EventProperties:
    case InstrumentTab::Datalogging:
        ReadEventProperties();
        if (!Cancelled())
            ReadLoggerInfo();
        break;
    case InstrumentTab::Calibration:
    case InstrumentTab::SpecialFunction:
        break;
    }
}

bool ReadSequences::IdlePollHasWork() const
{
    return port_.Open() && (transaction_.PollTicks() == 0 || transaction_.ReconnectTicks() == 0);
}

void ReadSequences::PostponePoll()
{
    transaction_.SetPollTicks(Transaction::kPollTicksAfterSend);
}

void ReadSequences::IdlePoll()
{
    if (!port_.Open())
        return;
    if (transaction_.PollTicks() == 0) {
        if (record_.CalibrationRunning) {
            view_.SetCalibrationButtonsEnabled(false);
            ReadCalibrationState();
        } else if (record_.BumpTestRunning) {
            ReadBumpResult();
        } else if (view_.ShowingTab() == InstrumentTab::Calibration && bumpStatePollsLeft_-- <= 0) {
            // On the Calibration tab, about every ten seconds: has a bump
            // test been started on the instrument? Its result is then followed.
            bumpStatePollsLeft_ = 9;
            ReadBumpState();
        } else {
            view_.SetCalibrationButtonsEnabled(true);
            ReadClock();
        }
    }
    // About a second after a failed read the instrument counts as lost.
    if (transaction_.ReconnectTicks() == 0 && port_.Open()) {
        view_.ShowPhase(ConnectionPhase::Lost);
        if (SearchInstrument())
            ConnectSequence();
    }
}

DecodedAnswer ReadSequences::DecodeAnswer()
{
    // Taking the answer lets the poll countdown run again.
    const AnswerFrame frame = AnswerFrameFromBuffer(transaction_.TakeAnswer());
    const DecodedAnswer answer = decoder_.Decode(frame, record_);
    if (answer.errorCountText)
        view_.setStatusText(kStatusPanelExchange, *answer.errorCountText);
    view_.ShowAnswer(answer, frame);
    return answer;
}

} // namespace r310
