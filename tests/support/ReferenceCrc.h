#pragma once
// The frame CRC (CRC-16/CCITT-FALSE) computed bit by bit, written apart from
// the product's table-driven one, so tests can check frames against it.
#include <cstdint>
#include <vector>

namespace r310test {

std::uint16_t BitwiseCrc(const std::vector<std::uint8_t> &bytes);

} // namespace r310test
