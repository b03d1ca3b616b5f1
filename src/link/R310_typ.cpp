#include "R310_typ.h"

#include "Chksum.h"

#include <algorithm>
#include <stdexcept>

namespace r310 {

void FinishFrame(std::uint8_t *buffer)
{
    std::copy(kFrameHeader.begin(), kFrameHeader.end(), buffer);
    const int crcOffset = kOffsetPayload + buffer[kOffsetLength];
    const std::uint16_t crc = FrameCrc(buffer, crcOffset);
    buffer[crcOffset] = static_cast<std::uint8_t>(crc >> 8);
    buffer[crcOffset + 1] = static_cast<std::uint8_t>(crc & 0xFF);
}

namespace {

void BuildRequest(std::uint8_t object, std::uint8_t flags, std::uint8_t length, std::uint8_t *buffer)
{
    buffer[kOffsetObject] = object;
    buffer[kOffsetFlags] = flags;
    buffer[kOffsetLength] = length;
    FinishFrame(buffer);
}

} // namespace

void BuildConnectRequest(std::uint8_t *buffer)
{
    BuildRequest(kObjectConnect, kFlagsWrite, 0, buffer);
}

void BuildReadRequest(std::uint8_t object, std::uint8_t *buffer)
{
    BuildRequest(object, kFlagsRead, 0, buffer);
}

bool BuildSelectReadRequest(std::uint8_t object, std::uint8_t length, std::uint8_t *buffer)
{
    if (length > kMaxPayload)
        return false;
    BuildRequest(object, kFlagsRead, length, buffer);
    return true;
}

bool BuildWriteRequest(std::uint8_t object, std::uint8_t length, std::uint8_t *buffer)
{
    if (length > kMaxPayload)
        return false;
    BuildRequest(object, kFlagsWrite, length, buffer);
    return true;
}

RequestBuffer WriteRequestFrame(std::uint8_t object, const std::vector<std::uint8_t> &payload)
{
    if (payload.size() > static_cast<std::size_t>(kMaxPayload))
        throw std::logic_error("a write payload longer than a frame can carry");
    RequestBuffer frame{};
    std::copy(payload.begin(), payload.end(), frame.begin() + kOffsetPayload);
    BuildWriteRequest(object, static_cast<std::uint8_t>(payload.size()), frame);
    return frame;
}

std::int32_t AssembleByte(std::uint8_t byte, ReceiveBuffer &buffer)
{
    auto &count = buffer.count;
    auto &bytes = buffer.bytes;

    if (count < kFrameHeader.size()) {
        // A byte that does not continue the header is dropped, not re-examined.
        if (byte == kFrameHeader[count]) {
            bytes[count] = byte;
            ++count;
        } else {
            count = 0;
        }
        return kAssembleIncomplete;
    }
    if (count >= kMaxFrame) {
        count = 0;
        return kAssembleIncomplete;
    }
    bytes[count] = byte;
    ++count;
    if (count <= kOffsetLength)
        return kAssembleIncomplete;
    const int frameLength = FrameLength(bytes.data());
    if (count < frameLength)
        return kAssembleIncomplete;
    // Complete. Requests (an echo of our own, say) are thrown away.
    if ((bytes[kOffsetFlags] & kFlagResponseBit) == 0) {
        count = 0;
        return kAssembleIncomplete;
    }
    // The CRC over a whole intact frame, its own two bytes included, is 0.
    return FrameCrc(bytes.data(), frameLength) == 0 ? kAssembleGood : kAssembleBadCrc;
}

Frame FrameFromBuffer(const ReceiveBuffer &buffer)
{
    Frame frame;
    if (buffer.count <= kOffsetLength)
        return frame;
    frame.object = buffer.bytes[kOffsetObject];
    frame.flags = buffer.bytes[kOffsetFlags];
    const int available = std::max(0, static_cast<int>(buffer.count) - kFrameOverhead);
    const int length = std::min<int>(buffer.bytes[kOffsetLength], available);
    frame.payload.assign(buffer.bytes.begin() + kOffsetPayload,
                         buffer.bytes.begin() + kOffsetPayload + length);
    return frame;
}

std::vector<std::uint8_t> EncodeFrame(std::uint8_t object, std::uint8_t flags,
                                      const std::uint8_t *payload, std::size_t length)
{
    const std::size_t n = std::min<std::size_t>(length, kMaxPayload);
    std::vector<std::uint8_t> frame(n + kFrameOverhead);
    frame[kOffsetObject] = object;
    frame[kOffsetFlags] = flags;
    frame[kOffsetLength] = static_cast<std::uint8_t>(n);
    if (n > 0)
        std::copy(payload, payload + n, frame.begin() + kOffsetPayload);
    FinishFrame(frame.data());
    return frame;
}

} // namespace r310
