#include "unzip/Crc32.h"

#include <array>
#include <cstring>

namespace velmora {

namespace {

using TCrcTables = std::array<std::array<uint32_t, 256>, 8>;

// Eight tables let the loop fold eight input bytes per step ("slicing by eight").
constexpr TCrcTables MakeTables() {
  TCrcTables tables{};
  for (uint32_t n = 0; n < 256; ++n) {
    uint32_t c = n;
    for (int k = 0; k < 8; ++k)
      c = (c & 1) != 0 ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    tables[0][n] = c;
  }
  for (uint32_t n = 0; n < 256; ++n)
    for (size_t t = 1; t < 8; ++t)
      tables[t][n] = (tables[t - 1][n] >> 8) ^ tables[0][tables[t - 1][n] & 0xFF];
  return tables;
}

constexpr TCrcTables kTables = MakeTables();

} // namespace

uint32_t Crc32Update(uint32_t crc, const uint8_t *data, size_t length) {
  uint32_t c = ~crc;
  while (length >= 8) {
    uint32_t low;
    uint32_t high;
    std::memcpy(&low, data, 4);
    std::memcpy(&high, data + 4, 4);
    low ^= c;
    c = kTables[7][low & 0xFF] ^ kTables[6][(low >> 8) & 0xFF] ^ kTables[5][(low >> 16) & 0xFF] ^
        kTables[4][low >> 24] ^ kTables[3][high & 0xFF] ^ kTables[2][(high >> 8) & 0xFF] ^
        kTables[1][(high >> 16) & 0xFF] ^ kTables[0][high >> 24];
    data += 8;
    length -= 8;
  }
  while (length-- > 0)
    c = kTables[0][(c ^ *data++) & 0xFF] ^ (c >> 8);
  return ~c;
}

} // namespace velmora
