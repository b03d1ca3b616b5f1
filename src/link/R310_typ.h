#pragma once
// The instrument frame: "VYK4", object number, flags, payload length, payload,
// CRC high byte first. Request builders and the byte-by-byte receive assembler.
#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace r310 {

constexpr std::array<std::uint8_t, 4> kFrameHeader = {'V', 'Y', 'K', '4'};

// Byte offsets inside a frame.
constexpr int kOffsetObject = 4;
constexpr int kOffsetFlags = 5;
constexpr int kOffsetLength = 6;
constexpr int kOffsetPayload = 7;

constexpr int kFrameOverhead = 9;    // header, object, flags, length, CRC
constexpr int kMaxPayload = 64;
constexpr int kMaxFrame = kMaxPayload + kFrameOverhead; // 73
constexpr int kRequestBufferSize = 76;                 // what commands reserve

// Flags byte values.
constexpr std::uint8_t kFlagsRead = 0x00;
constexpr std::uint8_t kFlagsWrite = 0x60;
constexpr std::uint8_t kFlagWriteBit = 0x40;     // decides "W" or "R" in the status line
constexpr std::uint8_t kFlagResponseBit = 0x80;  // every answer has it
constexpr std::uint8_t kFlagsDataAnswer = 0xC0;  // answer carrying object data

constexpr std::uint8_t kObjectConnect = 1;
constexpr std::uint8_t kObjectErrorReport = 0xF0;

// AssembleByte results.
constexpr std::int32_t kAssembleIncomplete = 0;
constexpr std::int32_t kAssembleGood = 1;
constexpr std::int32_t kAssembleBadCrc = -2;

using RequestBuffer = std::array<std::uint8_t, kRequestBufferSize>;

// Receive state: bytes collected so far, starting with the header.
struct ReceiveBuffer {
    std::uint8_t count = 0;
    std::array<std::uint8_t, kMaxFrame> bytes{};
};

// Writes the header into bytes 0..3 and the CRC over bytes 0..6+N behind the
// payload (N = buffer[6]). The buffer must hold N + 9 bytes.
void FinishFrame(std::uint8_t *buffer);

// Request builders. Each writes object, flags and N, then finishes the frame.
// Builders with a payload expect the N payload bytes at offset 7 already.
// A payload longer than 64 bytes is refused (false) and the buffer untouched,
// since no answer frame could carry it and the CRC would land past the buffer.
void BuildConnectRequest(std::uint8_t *buffer);
void BuildReadRequest(std::uint8_t object, std::uint8_t *buffer);
bool BuildSelectReadRequest(std::uint8_t object, std::uint8_t length, std::uint8_t *buffer);
bool BuildWriteRequest(std::uint8_t object, std::uint8_t length, std::uint8_t *buffer);

inline void BuildConnectRequest(RequestBuffer &b) { BuildConnectRequest(b.data()); }
inline void BuildReadRequest(std::uint8_t object, RequestBuffer &b) { BuildReadRequest(object, b.data()); }
inline bool BuildSelectReadRequest(std::uint8_t object, std::uint8_t length, RequestBuffer &b)
{
    return BuildSelectReadRequest(object, length, b.data());
}
inline bool BuildWriteRequest(std::uint8_t object, std::uint8_t length, RequestBuffer &b)
{
    return BuildWriteRequest(object, length, b.data());
}

// A write request of `object` carrying `payload`. A payload longer than 64
// bytes is a programming error and throws std::logic_error.
RequestBuffer WriteRequestFrame(std::uint8_t object, const std::vector<std::uint8_t> &payload);

// Feeds one received byte. Returns 0 (incomplete or discarded), 1 (a complete
// response with a correct CRC stands in the buffer) or -2 (complete, bad CRC).
std::int32_t AssembleByte(std::uint8_t byte, ReceiveBuffer &buffer);

// Total length of the frame that starts at frame (reads the length byte).
inline int FrameLength(const std::uint8_t *frame) { return frame[kOffsetLength] + kFrameOverhead; }

// The bytes a built request sends: its frame, without the buffer's reserve.
inline std::vector<std::uint8_t> RequestBytes(const RequestBuffer &frame)
{
    return {frame.begin(), frame.begin() + FrameLength(frame.data())};
}

// A complete frame, decoded into plain values.
struct Frame {
    std::uint8_t object = 0;
    std::uint8_t flags = 0;
    std::vector<std::uint8_t> payload;
};

// The frame standing in a receive buffer whose count covers it.
Frame FrameFromBuffer(const ReceiveBuffer &buffer);

// Encodes any frame (used for answers by the simulated instrument and by tests).
// The payload is cut to 64 bytes.
std::vector<std::uint8_t> EncodeFrame(std::uint8_t object, std::uint8_t flags,
                                      const std::uint8_t *payload, std::size_t length);
inline std::vector<std::uint8_t> EncodeFrame(std::uint8_t object, std::uint8_t flags,
                                             const std::vector<std::uint8_t> &payload)
{
    return EncodeFrame(object, flags, payload.data(), payload.size());
}

} // namespace r310
