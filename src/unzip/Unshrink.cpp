#include "unzip/Unshrink.h"

#include "unzip/BitReader.h"
#include "unzip/OutputWindow.h"
#include "unzip/ZipTypes.h"

#include <array>
#include <memory>

namespace velmora {

namespace {

[[noreturn]] void Damaged() { throw EUnzipError(uzrCrcMismatch); }

constexpr unsigned kMinCodeBits = 9;
constexpr unsigned kMaxCodeBits = 13;
constexpr int kTableSize = 1 << kMaxCodeBits;
constexpr int kControlCode = 256;
constexpr int kFirstFreeCode = 257;
constexpr int kNoPrefix = -1;

// The dictionary: every code is a prefix code plus one byte. A freed code keeps its old string
// until it is reused.
class TShrinkTable {
public:
  TShrinkTable() {
    for (int code = 0; code < kTableSize; ++code) {
      prefix_[code] = kNoPrefix;
      suffix_[code] = static_cast<uint8_t>(code);
      used_[code] = code < kControlCode;
    }
  }

  bool Used(int code) const { return used_[code]; }

  // Writes the string of code into the end of buffer; returns where it starts.
  uint8_t *Expand(int code, uint8_t *bufferEnd) const {
    uint8_t *start = bufferEnd;
    for (int steps = 0; code != kNoPrefix; ++steps) {
      if (steps == kTableSize)
        Damaged(); // a loop of prefixes
      *--start = suffix_[code];
      code = prefix_[code];
    }
    return start;
  }

  // Adds prefix + byte at the lowest free code; returns it, or -1 when the table is full.
  int Add(int prefix, uint8_t byte) {
    while (nextFree_ < kTableSize && used_[nextFree_])
      ++nextFree_;
    if (nextFree_ == kTableSize)
      return -1;
    if (nextFree_ == prefix)
      Damaged(); // would extend itself
    prefix_[nextFree_] = static_cast<int16_t>(prefix);
    suffix_[nextFree_] = byte;
    used_[nextFree_] = true;
    return nextFree_;
  }

  void PartialClear() {
    std::array<bool, kTableSize> isPrefix{};
    for (int code = kFirstFreeCode; code < kTableSize; ++code)
      if (used_[code] && prefix_[code] >= kFirstFreeCode)
        isPrefix[prefix_[code]] = true;
    for (int code = kFirstFreeCode; code < kTableSize; ++code)
      if (!isPrefix[code])
        used_[code] = false;
    nextFree_ = kFirstFreeCode;
  }

private:
  std::array<int16_t, kTableSize> prefix_;
  std::array<uint8_t, kTableSize> suffix_;
  std::array<bool, kTableSize> used_;
  int nextFree_ = kFirstFreeCode;
};

} // namespace

void Unshrink(TBitReader &input, TOutputWindow &output) {
  auto table = std::make_unique<TShrinkTable>();
  std::array<uint8_t, kTableSize> stack;
  uint8_t *stackEnd = stack.data() + stack.size();
  unsigned codeBits = kMinCodeBits;
  int previous = kNoPrefix;
  uint8_t previousFirst = 0;

  while (input.HasBits(codeBits)) {
    int code = static_cast<int>(input.Bits(codeBits));
    if (code == kControlCode) {
      if (!input.HasBits(codeBits))
        throw EUnzipError(uzrReadError);
      uint32_t action = input.Bits(codeBits);
      if (action == 1 && codeBits < kMaxCodeBits)
        ++codeBits;
      else if (action == 2)
        table->PartialClear();
      else
        Damaged();
      continue;
    }
    uint8_t *start;
    if (table->Used(code)) {
      start = table->Expand(code, stackEnd);
      if (previous != kNoPrefix)
        table->Add(previous, *start);
    } else {
      // The code being defined right now: the previous string plus its own first byte.
      if (previous == kNoPrefix || table->Add(previous, previousFirst) != code)
        Damaged();
      start = table->Expand(code, stackEnd);
    }
    output.Put(start, static_cast<size_t>(stackEnd - start));
    previous = code;
    previousFirst = *start;
  }
}

} // namespace velmora
