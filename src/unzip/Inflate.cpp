#include "unzip/Inflate.h"

#include "unzip/BitReader.h"
#include "unzip/HuffmanTable.h"
#include "unzip/OutputWindow.h"
#include "unzip/ZipTypes.h"

#include <array>
#include <cstring>

namespace velmora {

using namespace huffman;

namespace {

constexpr unsigned kLiteralBits = 10;
constexpr unsigned kDistanceBits = 8;
constexpr unsigned kCodeLengthBits = 7;
constexpr unsigned kLiteralSymbols = 288;
constexpr unsigned kDistanceSymbols = 32;

constexpr std::array<uint16_t, 29> kLengthBase = {3,  4,  5,  6,   7,   8,   9,   10,  11, 13,
                                                  15, 17, 19, 23,  27,  31,  35,  43,  51, 59,
                                                  67, 83, 99, 115, 131, 163, 195, 227, 258};
constexpr std::array<uint8_t, 29> kLengthExtra = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                                  2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
constexpr std::array<uint16_t, 30> kDistanceBase = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
constexpr std::array<uint8_t, 30> kDistanceExtra = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                                    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};
constexpr std::array<uint8_t, 19> kCodeLengthOrder = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                                      11, 4,  12, 3, 13, 2, 14, 1, 15};

struct TSymbolEntries {
  std::array<uint32_t, kLiteralSymbols> literal{};
  std::array<uint32_t, kDistanceSymbols> distance{};
  std::array<uint32_t, 19> codeLength{};
};

constexpr TSymbolEntries MakeSymbolEntries() {
  TSymbolEntries e;
  for (uint32_t s = 0; s < 256; ++s)
    e.literal[s] = MakeEntry(hkLiteral, s, 0);
  e.literal[256] = MakeEntry(hkEndOfBlock, 0, 0);
  for (uint32_t s = 257; s < 286; ++s)
    e.literal[s] = MakeEntry(hkBase, kLengthBase[s - 257], kLengthExtra[s - 257]);
  e.literal[286] = e.literal[287] = MakeEntry(hkInvalid, 0, 0);
  for (uint32_t s = 0; s < 30; ++s)
    e.distance[s] = MakeEntry(hkBase, kDistanceBase[s], kDistanceExtra[s]);
  e.distance[30] = e.distance[31] = MakeEntry(hkInvalid, 0, 0);
  for (uint32_t s = 0; s < 19; ++s)
    e.codeLength[s] = MakeEntry(hkLiteral, s, 0);
  return e;
}

constexpr TSymbolEntries kSymbols = MakeSymbolEntries();

[[noreturn]] void Damaged() { throw EUnzipError(uzrCrcMismatch); }

} // namespace

TInflate::TInflate() = default;

void TInflate::Run(TBitReader &input, TOutputWindow &output) {
  bool last = false;
  while (!last) {
    last = input.Bits(1) != 0;
    switch (input.Bits(2)) {
    case 0:
      StoredBlock(input, output);
      break;
    case 1:
      UseFixedTables();
      HuffmanBlock(input, output);
      break;
    case 2:
      ReadDynamicTables(input);
      HuffmanBlock(input, output);
      break;
    default:
      Damaged();
    }
  }
  input.CheckNotOverrun();
}

void TInflate::StoredBlock(TBitReader &input, TOutputWindow &output) {
  input.AlignToByte();
  uint32_t length = input.Bits(16);
  uint32_t complement = input.Bits(16);
  if ((length ^ 0xFFFF) != complement)
    Damaged();
  input.CheckNotOverrun();
  while (length > 0) {
    uint32_t piece = std::min<uint32_t>(length, static_cast<uint32_t>(output.fastLimit - output.pos));
    input.ReadAlignedBytes(output.pos, piece);
    output.pos += piece;
    length -= piece;
    if (output.pos >= output.fastLimit)
      output.Flush();
  }
}

void TInflate::UseFixedTables() {
  if (fixedLiteralTable_.empty()) {
    std::array<uint8_t, kLiteralSymbols> lengths{};
    std::fill(lengths.begin(), lengths.begin() + 144, 8);
    std::fill(lengths.begin() + 144, lengths.begin() + 256, 9);
    std::fill(lengths.begin() + 256, lengths.begin() + 280, 7);
    std::fill(lengths.begin() + 280, lengths.end(), 8);
    BuildTable(lengths.data(), kLiteralSymbols, kSymbols.literal.data(), kLiteralBits, hcMustBeComplete,
               fixedLiteralTable_);
    std::array<uint8_t, kDistanceSymbols> distanceLengths{};
    distanceLengths.fill(5);
    BuildTable(distanceLengths.data(), kDistanceSymbols, kSymbols.distance.data(), kDistanceBits,
               hcMustBeComplete, fixedDistanceTable_);
  }
  literals_ = &fixedLiteralTable_;
  distances_ = &fixedDistanceTable_;
}

void TInflate::ReadDynamicTables(TBitReader &input) {
  unsigned literalCount = input.Bits(5) + 257;
  unsigned distanceCount = input.Bits(5) + 1;
  unsigned codeLengthCount = input.Bits(4) + 4;
  if (literalCount > 286 || distanceCount > 30)
    Damaged();

  std::array<uint8_t, 19> codeLengthLengths{};
  for (unsigned i = 0; i < codeLengthCount; ++i)
    codeLengthLengths[kCodeLengthOrder[i]] = static_cast<uint8_t>(input.Bits(3));
  if (!BuildTable(codeLengthLengths.data(), 19, kSymbols.codeLength.data(), kCodeLengthBits, hcMustBeComplete,
                  codeLengthTable_))
    Damaged();

  std::array<uint8_t, 286 + 30> lengths{};
  unsigned total = literalCount + distanceCount;
  for (unsigned i = 0; i < total;) {
    input.Ensure(14);
    uint32_t entry = codeLengthTable_[input.Peek(kCodeLengthBits)];
    if (EntryKind(entry) == hkInvalid)
      Damaged();
    input.Drop(EntryBits(entry));
    uint32_t symbol = EntryValue(entry);
    if (symbol < 16) {
      lengths[i++] = static_cast<uint8_t>(symbol);
      continue;
    }
    uint8_t repeated = 0;
    unsigned times;
    if (symbol == 16) {
      if (i == 0)
        Damaged();
      repeated = lengths[i - 1];
      times = 3 + input.Bits(2);
    } else if (symbol == 17) {
      times = 3 + input.Bits(3);
    } else {
      times = 11 + input.Bits(7);
    }
    if (i + times > total)
      Damaged();
    std::memset(lengths.data() + i, repeated, times);
    i += times;
  }
  if (lengths[256] == 0)
    Damaged(); // no end-of-block code
  if (!BuildTable(lengths.data(), literalCount, kSymbols.literal.data(), kLiteralBits,
                  hcSingleCodeMayBeIncomplete, literalTable_) ||
      !BuildTable(lengths.data() + literalCount, distanceCount, kSymbols.distance.data(), kDistanceBits,
                  hcSingleCodeMayBeIncomplete, distanceTable_))
    Damaged();
  literals_ = &literalTable_;
  distances_ = &distanceTable_;
}

// The hot loop: the bit buffer and both pointers live in locals; one refill per symbol pair
// gives at least 56 bits, and a literal/length code with its extra bits plus a distance code
// with its extra bits need at most 48.
void TInflate::HuffmanBlock(TBitReader &input, TOutputWindow &output) {
  const uint32_t *literals = literals_->data();
  const uint32_t *distances = distances_->data();
  constexpr uint64_t kLiteralMask = (1u << kLiteralBits) - 1;
  constexpr uint64_t kDistanceMask = (1u << kDistanceBits) - 1;

  uint64_t bits = input.bitBuffer;
  unsigned count = input.bitCount;
  const uint8_t *in = input.in;
  uint8_t *out = output.pos;
  // Kept in locals too: stores through out may alias anything, so members would be reloaded.
  const uint8_t *inEnd = input.end;
  const uint8_t *outLimit = output.fastLimit;
  const uint8_t *windowStart = output.HistoryStart();

  auto save = [&] {
    input.bitBuffer = bits;
    input.bitCount = count;
    input.in = in;
    output.pos = out;
  };
  auto load = [&] {
    bits = input.bitBuffer;
    count = input.bitCount;
    in = input.in;
    inEnd = input.end;
    out = output.pos;
    windowStart = output.HistoryStart();
  };
  auto consume = [&](unsigned n) {
    bits >>= n;
    count -= n;
  };

  for (;;) {
    if (out >= outLimit) {
      save();
      output.Flush();
      load();
    }
    if (inEnd - in >= 8) {
      uint64_t word;
      std::memcpy(&word, in, 8);
      bits |= word << count;
      in += (63 - count) >> 3;
      count |= 56;
    } else {
      save();
      input.Refill();
      load();
    }

    uint32_t entry = literals[bits & kLiteralMask];
    if (EntryKind(entry) == hkSubtable) {
      consume(kLiteralBits);
      entry = literals[EntryValue(entry) + (bits & ((1u << EntryExtra(entry)) - 1))];
    }
    consume(EntryBits(entry));
    uint32_t kind = EntryKind(entry);
    if (kind == hkLiteral) {
      *out++ = static_cast<uint8_t>(EntryValue(entry));
      continue;
    }
    if (kind != hkBase) {
      if (kind == hkEndOfBlock)
        break;
      save();
      Damaged();
    }
    uint32_t extra = EntryExtra(entry);
    uint32_t length = EntryValue(entry) + static_cast<uint32_t>(bits & ((1u << extra) - 1));
    consume(extra);

    entry = distances[bits & kDistanceMask];
    if (EntryKind(entry) == hkSubtable) {
      consume(kDistanceBits);
      entry = distances[EntryValue(entry) + (bits & ((1u << EntryExtra(entry)) - 1))];
    }
    consume(EntryBits(entry));
    if (EntryKind(entry) != hkBase) {
      save();
      Damaged();
    }
    extra = EntryExtra(entry);
    uint32_t distance = EntryValue(entry) + static_cast<uint32_t>(bits & ((1u << extra) - 1));
    consume(extra);
    if (distance > static_cast<size_t>(out - windowStart)) {
      save();
      Damaged();
    }

    const uint8_t *from = out - distance;
    uint8_t *to = out;
    out += length;
    if (distance >= 8) {
      // Whole words may run up to seven bytes past the match: the window keeps slack for that.
      do {
        std::memcpy(to, from, 8);
        to += 8;
        from += 8;
      } while (to < out);
    } else if (distance == 1) {
      std::memset(to, *from, length);
    } else {
      for (uint32_t i = 0; i < length; ++i)
        to[i] = from[i];
    }
  }
  save();
}

} // namespace velmora
