#include "ReferenceCrc.h"

namespace r310test {

std::uint16_t BitwiseCrc(const std::vector<std::uint8_t> &bytes)
{
    std::uint16_t crc = 0xFFFF;
    for (const std::uint8_t b : bytes) {
        crc ^= static_cast<std::uint16_t>(b << 8);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 0x8000) ? static_cast<std::uint16_t>((crc << 1) ^ 0x1021)
                                 : static_cast<std::uint16_t>(crc << 1);
    }
    return crc;
}

} // namespace r310test
