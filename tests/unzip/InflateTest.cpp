#include "unzip/ZipTypes.h"

#include "ZipTestSupport.h"

#include <gtest/gtest.h>
#include <random>
#include <zlib.h>

namespace velmora {

using testing::InflateInMemory;
using testing::ZlibDeflate;
using testing::ZlibInflate;

namespace {

// Inputs shaped like what archives hold: noise, text, long runs, and repeats exactly 32768 bytes
// apart (the farthest distance deflate can reach).
std::string MakeInput(int shape, size_t size, std::mt19937 &random) {
  std::string data(size, '\0');
  static const char *const kWords[] = {"zip ", "entry ", "window ", "the ", "huffman ", "\n", "length ", "a"};
  switch (shape % 5) {
  case 0:
    for (char &c : data)
      c = static_cast<char>(random());
    break;
  case 1:
    data.clear();
    while (data.size() < size)
      data += kWords[random() % 8];
    data.resize(size);
    break;
  case 2:
    for (size_t i = 0; i < size;) {
      size_t run = 1 + random() % 300;
      char value = static_cast<char>(random() % 4);
      for (size_t k = 0; k < run && i < size; ++k)
        data[i++] = value;
    }
    break;
  case 3:
    for (size_t i = 0; i < size; ++i)
      data[i] = i < 32768 ? static_cast<char>(random()) : data[i - 32768];
    break;
  default:
    for (size_t i = 0; i < size; ++i)
      data[i] = static_cast<char>((i * i / 7 + (random() % 3)) & 0x3F);
  }
  return data;
}

} // namespace

// zlib writes every kind of block: stored (level 0), fixed (Z_FIXED), Huffman only, run length,
// and dynamic; the input is fed in pieces of varying size so refills fall anywhere.
TEST(Inflate, DecodesWhatZlibWrites) {
  std::mt19937 random(20240607);
  const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
  const size_t pieces[] = {1, 3, 8, 4096, 1 << 20};
  int cases = 0;
  for (int round = 0; round < 300; ++round) {
    size_t size = round % 10 == 0 ? random() % 300000 : random() % 5000;
    if (round < 5)
      size = static_cast<size_t>(round); // empty and tiny inputs
    std::string data = MakeInput(round, size, random);
    int level = round % 10;
    int strategy = strategies[(round / 10) % 5];
    std::string compressed = ZlibDeflate(data, level, strategy);
    size_t piece = pieces[round % 5];
    auto decoded = testing::DecodeInMemory(zmDeflated, 0, compressed, data.size(), piece);
    ASSERT_EQ(decoded.Code, uzrDone) << "round " << round << " size " << size << " level " << level;
    ASSERT_TRUE(decoded.Output == data) << "round " << round;
    ++cases;
  }
  EXPECT_EQ(cases, 300);
}

// Damaged streams: wherever zlib reaches the end of the stream, we produce the same bytes;
// wherever zlib refuses, so do we. Mutations hit headers, tables and data alike.
TEST(Inflate, AgreesWithZlibOnDamagedAndRandomStreams) {
  std::mt19937 random(99);
  int agreedFailures = 0;
  for (int round = 0; round < 400; ++round) {
    std::string stream;
    if (round % 4 == 0) {
      stream.resize(random() % 200);
      for (char &c : stream)
        c = static_cast<char>(random());
    } else {
      std::string data = MakeInput(round, 200 + random() % 3000, random);
      stream = ZlibDeflate(data, 1 + round % 9, round % 3 == 0 ? Z_FIXED : Z_DEFAULT_STRATEGY);
      int flips = 1 + static_cast<int>(random() % 4);
      for (int f = 0; f < flips; ++f)
        stream[random() % std::min<size_t>(stream.size(), round % 2 == 0 ? 40 : stream.size())] ^=
            static_cast<char>(1 << (random() % 8));
      if (round % 7 == 0)
        stream.resize(random() % stream.size());
    }
    auto ours = InflateInMemory(stream, 1 + random() % 64);
    auto theirs = ZlibInflate(stream);
    ASSERT_EQ(ours.Code == 0, theirs.Code == 0) << "round " << round << " ours " << ours.Code;
    if (theirs.Code == 0)
      ASSERT_TRUE(ours.Output == theirs.Output) << "round " << round;
    else
      ++agreedFailures;
  }
  EXPECT_GT(agreedFailures, 100);
}

// Hand-made streams for the rules a damaged stream breaks.
TEST(Inflate, RefusesMalformedStreams) {
  struct TCase {
    const char *what;
    std::string stream;
    int32_t code;
  };
  const TCase cases[] = {
      {"block type 3", std::string("\x07", 1), uzrCrcMismatch},
      {"stored length without its complement", std::string("\x01\x05\x00\x05\x00", 5), uzrCrcMismatch},
      {"stored block longer than the data",
       std::string("\x01\x05\x00\xFA\xFF"
                   "ab",
                   7),
       uzrReadError},
      {"distance before the start", std::string("\x03\x02\x00", 3), uzrCrcMismatch},
      {"nothing at all", std::string(), uzrReadError},
      {"fixed block without its end", std::string("\x4B\x4C\x4A", 3), uzrReadError},
  };
  for (const TCase &c : cases) {
    auto ours = InflateInMemory(c.stream, 2);
    EXPECT_EQ(ours.Code, c.code) << c.what;
    EXPECT_NE(ZlibInflate(c.stream).Code, 0) << c.what;
  }
}

// A stream that inflates to more than its entry declares stops at the first block past the
// declared size and hands on nothing beyond it.
TEST(Inflate, StopsAtTheDeclaredSize) {
  std::string data(10 << 20, 'x');
  std::string compressed = ZlibDeflate(data, 9);
  auto decoded = testing::DecodeInMemory(zmDeflated, 0, compressed, 1000);
  EXPECT_EQ(decoded.Code, uzrCrcMismatch);
  EXPECT_LE(decoded.Output.size(), 1000u);
  auto shorter = testing::DecodeInMemory(zmDeflated, 0, compressed, data.size() + 1);
  EXPECT_EQ(shorter.Code, uzrCrcMismatch);
}

} // namespace velmora
