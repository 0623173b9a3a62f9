#include "unzip/Explode.h"

#include "unzip/BitReader.h"
#include "unzip/OutputWindow.h"
#include "unzip/ZipTypes.h"

#include <algorithm>
#include <numeric>
#include <vector>

namespace velmora {

namespace {

[[noreturn]] void Damaged() { throw EUnzipError(uzrCrcMismatch); }

constexpr unsigned kMaxTreeBits = 16;

// A decoding table indexed by the next longestBits bits; an entry holds symbol << 8 | length,
// 0 where no code starts.
class TShannonFanoTree {
public:
  void Read(TBitReader &input, unsigned symbolCount) {
    std::vector<uint8_t> lengths(symbolCount, 0);
    unsigned bytes = input.Bits(8) + 1;
    unsigned next = 0;
    for (unsigned b = 0; b < bytes; ++b) {
      uint32_t packed = input.Bits(8);
      unsigned length = (packed & 0x0F) + 1;
      unsigned times = (packed >> 4) + 1;
      if (next + times > symbolCount)
        Damaged();
      std::fill(lengths.begin() + next, lengths.begin() + next + times, static_cast<uint8_t>(length));
      next += times;
    }
    Build(lengths);
  }

  uint32_t Decode(TBitReader &input) const {
    input.Ensure(longestBits_);
    uint32_t entry = table_[input.Peek(longestBits_)];
    if (entry == 0)
      Damaged();
    input.Drop(entry & 0xFF);
    return entry >> 8;
  }

private:
  // Codes are assigned from the longest to the shortest (ties in stored order, walked backward),
  // each 16-bit left-aligned code one step of its length above the previous; the stream holds
  // them most significant bit first.
  void Build(const std::vector<uint8_t> &lengths) {
    std::vector<unsigned> order(lengths.size());
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(),
                     [&](unsigned a, unsigned b) { return lengths[a] < lengths[b]; });
    longestBits_ = *std::max_element(lengths.begin(), lengths.end());
    table_.assign(size_t{1} << longestBits_, 0);

    uint32_t code = 0;
    uint32_t increment = 0;
    unsigned lastLength = 0;
    for (size_t i = order.size(); i-- > 0;) {
      unsigned symbol = order[i];
      unsigned length = lengths[symbol];
      if (length == 0)
        break;
      code += increment;
      if (length != lastLength) {
        lastLength = length;
        increment = uint32_t{1} << (kMaxTreeBits - length);
      }
      if (code > 0xFFFF)
        Damaged(); // over-subscribed
      uint32_t reversed = 0;
      for (unsigned bit = 0; bit < length; ++bit)
        reversed |= ((code >> (kMaxTreeBits - 1 - bit)) & 1) << bit;
      for (uint32_t index = reversed; index < table_.size(); index += uint32_t{1} << length) {
        if (table_[index] != 0)
          Damaged();
        table_[index] = symbol << 8 | length;
      }
    }
  }

  std::vector<uint32_t> table_;
  unsigned longestBits_ = 0;
};

} // namespace

void Explode(TBitReader &input, TOutputWindow &output, uint16_t flags) {
  const bool threeTrees = (flags & zfImplodeThreeTrees) != 0;
  const unsigned lowDistanceBits = (flags & zfImplode8KDictionary) != 0 ? 7 : 6;
  const uint32_t minimumLength = threeTrees ? 3 : 2;

  TShannonFanoTree literalTree;
  TShannonFanoTree lengthTree;
  TShannonFanoTree distanceTree;
  if (threeTrees)
    literalTree.Read(input, 256);
  lengthTree.Read(input, 64);
  distanceTree.Read(input, 64);

  const uint64_t declared = output.DeclaredSize();
  while (output.Total() < declared) {
    if (input.Bits(1) != 0) {
      uint32_t literal = threeTrees ? literalTree.Decode(input) : input.Bits(8);
      output.PutByte(static_cast<uint8_t>(literal));
      continue;
    }
    uint32_t low = input.Bits(lowDistanceBits);
    uint32_t distance = ((distanceTree.Decode(input) << lowDistanceBits) | low) + 1;
    uint32_t length = lengthTree.Decode(input);
    if (length == 63)
      length += input.Bits(8);
    length += minimumLength;
    length = static_cast<uint32_t>(std::min<uint64_t>(length, declared - output.Total()));
    output.CopyMatch(distance, length, true);
  }
  input.CheckNotOverrun();
}

} // namespace velmora
