#pragma once

#include <cstddef>
#include <cstdint>

namespace velmora {

// Continues the CRC-32 (polynomial 0xEDB88320, initial value all ones, final complement) of the
// bytes seen so far: start with crc = 0 and feed every piece in order.
uint32_t Crc32Update(uint32_t crc, const uint8_t *data, size_t length);

} // namespace velmora
