#pragma once
// Checksums of the instrument family: the frame CRC and the older shift
// checksum and byte sum that data files of the family carry.
#include <cstdint>

namespace r310 {

// Algorithm ComputeChecksum applies.
enum ChecksumMode : std::uint8_t {
    kChecksumShift = 0,        // ShiftChecksum, high byte first
    kChecksumShiftSwapped = 1, // ShiftChecksum, bytes exchanged
    kChecksumByteSum = 2,      // 8-bit sum
    kChecksumFrameCrc = 3,     // CRC-16/CCITT-FALSE used by every frame
};

constexpr std::uint16_t kShiftChecksumStart = 0x3418;
constexpr std::uint16_t kFrameCrcStart = 0xFFFF;

// Checksum of length bytes with the given algorithm. A length of 0 or less
// gives the mode's start value (kChecksumShiftSwapped: swapped); a mode
// outside the list gives 0.
std::uint16_t ComputeChecksum(ChecksumMode mode, const std::uint8_t *data, std::int32_t length);

std::uint16_t ShiftChecksum(const std::uint8_t *data, std::int32_t length);
std::uint8_t ByteSum(const std::uint8_t *data, std::int32_t length);
std::uint16_t FrameCrc(const std::uint8_t *data, std::int32_t length);

// Continues a frame CRC with more bytes (start with kFrameCrcStart).
std::uint16_t FrameCrcUpdate(std::uint16_t crc, const std::uint8_t *data, std::int32_t length);

// Exchanges p[0] and p[1] in place and returns p + 2.
std::uint8_t *Swap2(std::uint8_t *p);

} // namespace r310
