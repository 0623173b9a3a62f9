#include "unzip/ZipTypes.h"

#include "ZipTestSupport.h"

#include <array>
#include <gtest/gtest.h>
#include <map>
#include <random>

namespace velmora {

namespace {

// A shrink encoder for the test: LZW with codes widened by 256,1 as they need it, and a partial
// clear (256,2) after every clearEvery codes, reusing the freed codes lowest first. Its
// dictionary is kept as the decoder sees it, which learns each code one step later.
class TShrinker {
public:
  std::string Shrink(const std::string &data, int clearEvery) {
    if (data.empty())
      return {};
    int w = static_cast<uint8_t>(data[0]);
    int emitted = 0;
    for (size_t i = 1; i < data.size(); ++i) {
      int c = static_cast<uint8_t>(data[i]);
      if (auto found = lookup_.find(w * 256 + c); found != lookup_.end()) {
        w = found->second;
        continue;
      }
      Emit(w);
      int added = Add(w, c);
      if (clearEvery > 0 && ++emitted % clearEvery == 0 && added >= 0)
        TryPartialClear(added, w, c);
      w = c;
    }
    Emit(w);
    if (bitCount_ > 0)
      out_ += static_cast<char>(bits_);
    return out_;
  }

  int clears = 0;
  int widest = 9;

private:
  struct TState {
    std::array<int, 8192> prefix{};
    std::array<uint8_t, 8192> suffix{};
    std::array<bool, 8192> used{};
  };

  void Put(int code) {
    bits_ |= static_cast<uint32_t>(code) << bitCount_;
    bitCount_ += static_cast<unsigned>(codeBits_);
    while (bitCount_ >= 8) {
      out_ += static_cast<char>(bits_ & 0xFF);
      bits_ >>= 8;
      bitCount_ -= 8;
    }
  }
  void Emit(int code) {
    while (code >= (1 << codeBits_)) {
      Put(256);
      Put(1);
      widest = ++codeBits_;
    }
    Put(code);
  }
  int Add(int prefix, int byte) {
    while (nextFree_ < 8192 && state_.used[nextFree_])
      ++nextFree_;
    if (nextFree_ == 8192)
      return -1;
    int code = nextFree_;
    state_.prefix[code] = prefix;
    state_.suffix[code] = static_cast<uint8_t>(byte);
    state_.used[code] = true;
    lookup_[prefix * 256 + byte] = code;
    return code;
  }
  // The decoder clears before it learns (w, c), which it then adds below w; the clear is skipped
  // when it would free w, which would leave (w, c) extending a freed code.
  void TryPartialClear(int added, int w, int c) {
    TState cleared = state_;
    cleared.used[added] = false;
    std::array<bool, 8192> isPrefix{};
    for (int code = 257; code < 8192; ++code)
      if (cleared.used[code] && cleared.prefix[code] >= 257)
        isPrefix[cleared.prefix[code]] = true;
    for (int code = 257; code < 8192; ++code)
      if (!isPrefix[code])
        cleared.used[code] = false;
    if (w >= 257 && !cleared.used[w])
      return;
    Put(256);
    Put(2);
    ++clears;
    state_ = cleared;
    nextFree_ = 257;
    lookup_.clear();
    for (int code = 257; code < 8192; ++code)
      if (state_.used[code])
        lookup_[state_.prefix[code] * 256 + state_.suffix[code]] = code;
    Add(w, c);
  }

  TState state_ = [] {
    TState s;
    for (int code = 0; code < 256; ++code)
      s.used[code] = true;
    s.used[256] = true;
    return s;
  }();
  std::map<int, int> lookup_;
  int nextFree_ = 257;
  int codeBits_ = 9;
  uint32_t bits_ = 0;
  unsigned bitCount_ = 0;
  std::string out_;
};

std::string Words(size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::vector<std::string> words;
  for (int i = 0; i < 3000; ++i)
    words.push_back(std::to_string(random() % 100000) + (i % 7 == 0 ? "\n" : " "));
  std::string text;
  while (text.size() < size)
    text += words[random() % words.size()];
  return text;
}

} // namespace

// Long inputs fill the table: codes widen up to 13 bits, the full table stops growing, and
// partial clears free leaves for reuse while older strings stay intact.
TEST(Unshrink, DecodesWideCodesAFullTableAndPartialClears) {
  struct TCase {
    const char *what;
    std::string data;
    int clearEvery;
  };
  const TCase cases[] = {
      {"short text", "abababababababab aaaaaaaaaaaaa", 0},
      {"full table, no clears", Words(300000, 1), 0},
      {"partial clears", Words(400000, 2), 1500},
      {"frequent clears", Words(100000, 3), 97},
  };
  for (const TCase &c : cases) {
    TShrinker shrinker;
    std::string shrunk = shrinker.Shrink(c.data, c.clearEvery);
    if (c.clearEvery > 0) {
      EXPECT_GT(shrinker.clears, 3) << c.what;
    }
    auto decoded = testing::DecodeInMemory(zmShrunk, 0, shrunk, c.data.size(), 4096);
    EXPECT_EQ(decoded.Code, uzrDone) << c.what;
    EXPECT_TRUE(decoded.Output == c.data) << c.what;
  }
  TShrinker wide;
  wide.Shrink(Words(300000, 1), 0);
  EXPECT_EQ(wide.widest, 13);
}

TEST(Unshrink, RefusesImpossibleCodes) {
  // 9-bit codes, least significant bit first.
  auto pack = [](std::vector<int> codes) {
    std::string out;
    uint32_t bits = 0;
    unsigned count = 0;
    for (int code : codes) {
      bits |= static_cast<uint32_t>(code) << count;
      count += 9;
      for (; count >= 8; count -= 8, bits >>= 8)
        out += static_cast<char>(bits & 0xFF);
    }
    if (count > 0)
      out += static_cast<char>(bits);
    return out;
  };
  EXPECT_EQ(testing::DecodeInMemory(zmShrunk, 0, pack({300}), 1).Code, uzrCrcMismatch); // undefined first
  EXPECT_EQ(testing::DecodeInMemory(zmShrunk, 0, pack({'a', 400}), 3).Code,
            uzrCrcMismatch); // not the next code
  EXPECT_EQ(testing::DecodeInMemory(zmShrunk, 0, pack({'a', 256, 7}), 1).Code,
            uzrCrcMismatch); // unknown control
  EXPECT_EQ(testing::DecodeInMemory(zmShrunk, 0, pack({'a', 'b', 257}), 4).Output, "abab");
}

} // namespace velmora
