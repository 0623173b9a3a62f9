#include "unzip/Crc32.h"

#include "ZipTestSupport.h"

#include <gtest/gtest.h>
#include <random>

namespace velmora {

// Every length around the eight-byte steps, and pieces fed one after another.
TEST(Crc32, MatchesZlibForAllLengthsAndPieces) {
  std::mt19937 random(7);
  std::string data(4099, '\0');
  for (char &c : data)
    c = static_cast<char>(random());
  for (size_t length : {0u, 1u, 7u, 8u, 9u, 15u, 16u, 17u, 63u, 4099u}) {
    std::string part = data.substr(0, length);
    auto bytes = reinterpret_cast<const uint8_t *>(part.data());
    EXPECT_EQ(Crc32Update(0, bytes, part.size()), testing::ZlibCrc(part)) << length;
    size_t half = length / 3;
    EXPECT_EQ(Crc32Update(Crc32Update(0, bytes, half), bytes + half, length - half), testing::ZlibCrc(part));
  }
  EXPECT_EQ(Crc32Update(0, reinterpret_cast<const uint8_t *>("123456789"), 9), 0xCBF43926u);
}

} // namespace velmora
