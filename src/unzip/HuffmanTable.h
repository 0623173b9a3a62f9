#pragma once

#include <cstdint>
#include <vector>

namespace velmora {

// A two-level lookup table for canonical Huffman codes read least-significant bit first. The
// primary level is indexed by the next primaryBits bits; longer codes continue in a subtable.
//
// Entry layout: bits 0-4 how many bits the entry consumes, bits 5-7 its kind, bits 8-15 the count
// of extra bits that follow (for a subtable: its index width), bits 16-31 the value (literal,
// base of a length or distance, or the start of the subtable).
namespace huffman {

enum TKind : uint32_t {
  hkLiteral = 0,
  hkBase = 1, // a length (literal/length alphabet) or a distance
  hkEndOfBlock = 2,
  hkSubtable = 3,
  hkInvalid = 4,
};

constexpr uint32_t MakeEntry(TKind kind, uint32_t value, uint32_t extraBits) {
  return value << 16 | extraBits << 8 | uint32_t{kind} << 5;
}
constexpr uint32_t EntryBits(uint32_t entry) { return entry & 0x1F; }
constexpr uint32_t EntryKind(uint32_t entry) { return (entry >> 5) & 7; }
constexpr uint32_t EntryExtra(uint32_t entry) { return (entry >> 8) & 0xFF; }
constexpr uint32_t EntryValue(uint32_t entry) { return entry >> 16; }

constexpr unsigned kMaxCodeLength = 15;

// How an incomplete code (one that leaves bit patterns unused) is taken.
enum TCompleteness {
  hcMustBeComplete,
  hcSingleCodeMayBeIncomplete, // one code of length one, as encoders write for a lone symbol
};

// Builds the table for the given code lengths (0 = symbol unused); symbolEntries gives each
// symbol's entry without its length. Returns false for an over-subscribed or forbidden
// incomplete set. Patterns that no code uses decode as hkInvalid.
bool BuildTable(const uint8_t *lengths, unsigned count, const uint32_t *symbolEntries, unsigned primaryBits,
                TCompleteness completeness, std::vector<uint32_t> &table);

} // namespace huffman
} // namespace velmora
