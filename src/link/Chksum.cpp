#include "Chksum.h"

#include <array>

namespace r310 {

namespace {

constexpr std::uint16_t kCrcPolynomial = 0x1021;

constexpr std::array<std::uint16_t, 256> MakeCrcTable()
{
    std::array<std::uint16_t, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        std::uint16_t reg = static_cast<std::uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit) {
            reg = (reg & 0x8000) ? static_cast<std::uint16_t>((reg << 1) ^ kCrcPolynomial)
                                 : static_cast<std::uint16_t>(reg << 1);
        }
        table[i] = reg;
    }
    return table;
}

constexpr std::array<std::uint16_t, 256> kCrcTable = MakeCrcTable();
static_assert(kCrcTable[1] == 0x1021 && kCrcTable[2] == 0x2042, "CRC table");

constexpr std::uint8_t RotateLeft1(std::uint8_t v)
{
    return static_cast<std::uint8_t>((v << 1) | (v >> 7));
}

constexpr std::uint8_t RotateRight1(std::uint8_t v)
{
    return static_cast<std::uint8_t>((v >> 1) | (v << 7));
}

std::uint16_t SwapBytes(std::uint16_t v)
{
    return static_cast<std::uint16_t>((v << 8) | (v >> 8));
}

} // namespace

std::uint16_t ShiftChecksum(const std::uint8_t *data, std::int32_t length)
{
    std::uint8_t high = kShiftChecksumStart >> 8;
    std::uint8_t low = kShiftChecksumStart & 0xFF;
    for (std::int32_t i = 0; i < length; ++i) {
        const std::uint8_t b = data[i];
        const std::uint8_t t = static_cast<std::uint8_t>(b ^ high);
        const std::uint8_t u = static_cast<std::uint8_t>(static_cast<std::uint8_t>(~b) ^ low);
        high = static_cast<std::uint8_t>(high + RotateLeft1(t));
        low = static_cast<std::uint8_t>(low - RotateRight1(u));
    }
    return static_cast<std::uint16_t>((high << 8) | low);
}

std::uint8_t ByteSum(const std::uint8_t *data, std::int32_t length)
{
    std::uint8_t sum = 0;
    for (std::int32_t i = 0; i < length; ++i)
        sum = static_cast<std::uint8_t>(sum + data[i]);
    return sum;
}

std::uint16_t FrameCrcUpdate(std::uint16_t crc, const std::uint8_t *data, std::int32_t length)
{
    for (std::int32_t i = 0; i < length; ++i)
        crc = static_cast<std::uint16_t>((crc << 8) ^ kCrcTable[((crc >> 8) ^ data[i]) & 0xFF]);
    return crc;
}

std::uint16_t FrameCrc(const std::uint8_t *data, std::int32_t length)
{
    return FrameCrcUpdate(kFrameCrcStart, data, length);
}

std::uint16_t ComputeChecksum(ChecksumMode mode, const std::uint8_t *data, std::int32_t length)
{
    if (length < 0)
        length = 0;
    switch (mode) {
    case kChecksumShift:
        return ShiftChecksum(data, length);
    case kChecksumShiftSwapped:
        return SwapBytes(ShiftChecksum(data, length));
    case kChecksumByteSum:
        return ByteSum(data, length);
    case kChecksumFrameCrc:
        return FrameCrc(data, length);
    default:
        return 0;
    }
}

std::uint8_t *Swap2(std::uint8_t *p)
{
    const std::uint8_t first = p[0];
    p[0] = p[1];
    p[1] = first;
    return p + 2;
}

} // namespace r310
