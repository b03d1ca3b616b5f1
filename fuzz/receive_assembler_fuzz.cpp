// The receive assembler fed arbitrary byte streams, as a serial line brings
// them: answers among garbage, echoed requests, cut and damaged frames, in
// notifications of any size.
//
// Input: one mode byte, then the stream. Mode bit 0: a complete frame with
// a bad CRC empties the buffer (as sending the request again does);
// otherwise the bytes behind it run on into the same buffer. Bits 1 to 7:
// the size of the port's notifications less one.
//
// Checked: the buffer never holds more than a frame; every frame reported
// complete is a whole response frame whose CRC verdict the decoder's own
// check shares, and a good one encodes back to the very bytes received; the
// transaction, fed the stream through the serial port service, takes the
// same first answer as the assembler alone.
#include "FuzzInput.h"

#include <SerialPort.h>
#include <Chksum.h>
#include <DecodeAnswer.h>
#include <ExchangeReport.h>
#include <R310_typ.h>
#include <SerialBackend.h>
#include <Transaction.h>

#include <algorithm>
#include <array>
#include <optional>
#include <utility>

namespace {

using namespace r310;
using r310::fuzz::FuzzInput;

using FrameBytes = std::vector<std::uint8_t>;

// A serial line whose received bytes come from the fuzz input.
class FuzzLine : public SerialBackend {
public:
    bool open() override
    {
        open_ = true;
        return true;
    }
    void close() override { open_ = false; }
    bool isOpen() const override { return open_; }
    bool write(const QByteArray &) override { return true; }
    QByteArray readAll() override { return std::exchange(pending_, {}); }
    qint64 bytesAvailable() const override { return pending_.size(); }
    qint64 bytesToWrite() const override { return 0; }
    QString errorString() const override { return {}; }

    void deliver(const QByteArray &bytes)
    {
        pending_.append(bytes);
        emit readyRead();
    }

private:
    bool open_ = false;
    QByteArray pending_;
};

class NoScreen : public ExchangeReport {
public:
    void setStatusText(int, const QString &) override {}
    void showError(const QString &) override {}
};

FrameBytes CompleteFrame(const ReceiveBuffer &buffer)
{
    return FrameBytes(buffer.bytes.begin(), buffer.bytes.begin() + FrameLength(buffer.bytes.data()));
}

// What every verdict other than "incomplete" promises about the buffer.
void CheckComplete(const ReceiveBuffer &buffer, std::int32_t status)
{
    const int length = FrameLength(buffer.bytes.data());
    FUZZ_CHECK(length <= kMaxFrame);
    FUZZ_CHECK(buffer.count >= length);
    FUZZ_CHECK(std::equal(kFrameHeader.begin(), kFrameHeader.end(), buffer.bytes.begin()));
    FUZZ_CHECK((buffer.bytes[kOffsetFlags] & kFlagResponseBit) != 0);
    const bool crcGood = FrameCrc(buffer.bytes.data(), length) == 0;
    FUZZ_CHECK(crcGood == (status == kAssembleGood));
    // The decoder takes the buffer as it stands and must come to the same verdict.
    const AnswerFrame answer = AnswerFrameFromBuffer(buffer);
    FUZZ_CHECK(answer.intact == crcGood);
    if (!crcGood)
        return;
    const Frame frame = FrameFromBuffer(buffer);
    FUZZ_CHECK(frame.payload.size() == buffer.bytes[kOffsetLength]);
    FUZZ_CHECK(answer.payload == frame.payload);
    FUZZ_CHECK(EncodeFrame(frame.object, frame.flags, frame.payload) == CompleteFrame(buffer));
}

// The assembler alone, the buffer emptied after each good answer as taking
// the answer does.
void AssembleStream(const std::vector<std::uint8_t> &stream, bool badCrcEmpties)
{
    ReceiveBuffer buffer;
    for (const std::uint8_t byte : stream) {
        const std::int32_t status = AssembleByte(byte, buffer);
        FUZZ_CHECK(buffer.count <= kMaxFrame);
        FUZZ_CHECK(status == kAssembleIncomplete || status == kAssembleGood || status == kAssembleBadCrc);
        if (status == kAssembleIncomplete)
            continue;
        CheckComplete(buffer, status);
        if (status == kAssembleGood || badCrcEmpties)
            buffer.count = 0;
    }
    // Whatever the stream left behind is decoded after a failed exchange.
    const AnswerFrame leftover = AnswerFrameFromBuffer(buffer);
    FUZZ_CHECK(leftover.payload.size() <= static_cast<std::size_t>(kMaxPayload));
}

// The first answer the assembler finds while a bad CRC leaves the bytes in
// the buffer, as within one attempt of a transaction.
std::optional<FrameBytes> FirstAnswerOfOneAttempt(const std::vector<std::uint8_t> &stream)
{
    ReceiveBuffer buffer;
    for (const std::uint8_t byte : stream) {
        if (AssembleByte(byte, buffer) == kAssembleGood)
            return CompleteFrame(buffer);
    }
    return std::nullopt;
}

// The same stream through the serial port service into a transaction.
std::optional<FrameBytes> TransactionAnswer(const std::vector<std::uint8_t> &stream, std::size_t chunk)
{
    FuzzLine line;
    SerialPort port(line);
    NoScreen screen;
    Transaction transaction(port, screen);
    port.SetOpen(true);
    for (std::size_t at = 0; at < stream.size(); at += chunk) {
        const std::size_t n = std::min(chunk, stream.size() - at);
        line.deliver(QByteArray(reinterpret_cast<const char *>(stream.data() + at), static_cast<qsizetype>(n)));
        FUZZ_CHECK(port.BytesWaiting() == 0); // every announced byte was taken
    }
    if (transaction.Result().ResponseStatus != kAssembleGood)
        return std::nullopt;
    const ReceiveBuffer answer = transaction.TakeAnswer();
    CheckComplete(answer, kAssembleGood);
    return CompleteFrame(answer);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    FuzzInput input(data, size);
    const std::uint8_t mode = input.byte();
    const bool badCrcEmpties = (mode & 1) != 0;
    const std::size_t chunk = 1 + (mode >> 1);
    const std::vector<std::uint8_t> stream = input.rest();

    AssembleStream(stream, badCrcEmpties);
    FUZZ_CHECK(TransactionAnswer(stream, chunk) == FirstAnswerOfOneAttempt(stream));
    return 0;
}
