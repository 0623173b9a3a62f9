#pragma once

#include <cstdint>
#include <memory>
#include <vector>

namespace velmora {

class TBitReader;
class TOutputWindow;

// Decodes a raw deflate stream (RFC 1951: stored, fixed and dynamic Huffman blocks) up to the
// end of its final block. Damaged data throws EUnzipError(uzrCrcMismatch), data that ends early
// EUnzipError(uzrReadError). One instance may decode many streams, keeping its tables.
class TInflate {
public:
  TInflate();
  void Run(TBitReader &input, TOutputWindow &output);

private:
  void StoredBlock(TBitReader &input, TOutputWindow &output);
  void ReadDynamicTables(TBitReader &input);
  void UseFixedTables();
  void HuffmanBlock(TBitReader &input, TOutputWindow &output);

  std::vector<uint32_t> literalTable_;
  std::vector<uint32_t> distanceTable_;
  std::vector<uint32_t> fixedLiteralTable_;
  std::vector<uint32_t> fixedDistanceTable_;
  std::vector<uint32_t> codeLengthTable_;
  const std::vector<uint32_t> *literals_ = nullptr;
  const std::vector<uint32_t> *distances_ = nullptr;
};

} // namespace velmora
