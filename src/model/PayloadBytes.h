#pragma once
// Little-endian fields of an instrument payload.
#include <cstdint>

namespace r310 {

inline std::uint16_t PayloadU16(const std::uint8_t *p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::int16_t PayloadI16(const std::uint8_t *p)
{
    return static_cast<std::int16_t>(PayloadU16(p));
}

inline std::uint32_t PayloadU32(const std::uint8_t *p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline std::int32_t PayloadI32(const std::uint8_t *p)
{
    return static_cast<std::int32_t>(PayloadU32(p));
}

} // namespace r310
