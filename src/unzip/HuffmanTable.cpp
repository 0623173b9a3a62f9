#include "unzip/HuffmanTable.h"

#include <algorithm>
#include <array>
#include <cstddef>

namespace velmora::huffman {

namespace {

uint32_t ReverseBits(uint32_t code, unsigned length) {
  uint32_t reversed = 0;
  for (unsigned i = 0; i < length; ++i) {
    reversed = (reversed << 1) | (code & 1);
    code >>= 1;
  }
  return reversed;
}

} // namespace

bool BuildTable(const uint8_t *lengths, unsigned count, const uint32_t *symbolEntries, unsigned primaryBits,
                TCompleteness completeness, std::vector<uint32_t> &table) {
  std::array<unsigned, kMaxCodeLength + 1> lengthCount{};
  unsigned longest = 0;
  for (unsigned s = 0; s < count; ++s) {
    lengthCount[lengths[s]]++;
    if (lengths[s] > longest)
      longest = lengths[s];
  }
  lengthCount[0] = 0;
  int left = 1;
  for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
    left = left * 2 - static_cast<int>(lengthCount[len]);
    if (left < 0)
      return false; // over-subscribed
  }
  if (left > 0 && longest > 0 && !(completeness == hcSingleCodeMayBeIncomplete && longest == 1))
    return false;

  // First canonical code of each length, most significant bit first.
  std::array<uint32_t, kMaxCodeLength + 2> nextCode{};
  uint32_t code = 0;
  for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
    nextCode[len] = code;
    code = (code + lengthCount[len]) << 1;
  }

  const uint32_t primarySize = uint32_t{1} << primaryBits;
  table.assign(primarySize, MakeEntry(hkInvalid, 0, 0) | 1);

  // Each primary slot whose codes run longer gets a subtable wide enough for its longest code.
  std::array<uint32_t, kMaxCodeLength + 2> codeOfLength = nextCode;
  std::vector<uint8_t> subtableBits(primarySize, 0);
  for (unsigned s = 0; s < count; ++s) {
    unsigned len = lengths[s];
    if (len <= primaryBits)
      continue;
    uint32_t reversed = ReverseBits(codeOfLength[len]++, len);
    uint32_t slot = reversed & (primarySize - 1);
    subtableBits[slot] = static_cast<uint8_t>(std::max<unsigned>(subtableBits[slot], len - primaryBits));
  }
  for (uint32_t slot = 0; slot < primarySize; ++slot) {
    if (subtableBits[slot] == 0)
      continue;
    uint32_t start = static_cast<uint32_t>(table.size());
    table[slot] = MakeEntry(hkSubtable, start, subtableBits[slot]) | primaryBits;
    table.resize(start + (size_t{1} << subtableBits[slot]), MakeEntry(hkInvalid, 0, 0) | 1);
  }

  codeOfLength = nextCode;
  for (unsigned s = 0; s < count; ++s) {
    unsigned len = lengths[s];
    if (len == 0)
      continue;
    uint32_t reversed = ReverseBits(codeOfLength[len]++, len);
    if (len <= primaryBits) {
      for (uint32_t i = reversed; i < primarySize; i += uint32_t{1} << len)
        table[i] = symbolEntries[s] | len;
      continue;
    }
    uint32_t pointer = table[reversed & (primarySize - 1)];
    uint32_t start = EntryValue(pointer);
    uint32_t width = EntryExtra(pointer);
    unsigned rest = len - primaryBits;
    for (uint32_t i = reversed >> primaryBits; i < (uint32_t{1} << width); i += uint32_t{1} << rest)
      table[start + i] = symbolEntries[s] | rest;
  }
  return true;
}

} // namespace velmora::huffman
