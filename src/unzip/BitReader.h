#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace velmora {

// Where the compressed bytes of one entry come from.
class IByteSource {
public:
  virtual ~IByteSource() = default;
  // Fills up to size bytes; returns how many, 0 only at the end of the data. Throws EUnzipError
  // on a read failure, a premature end or a cancel.
  virtual size_t Read(uint8_t *buffer, size_t size) = 0;
};

// Least-significant-bit-first reader over a byte source, shared by inflate, explode and
// unshrink. Invariant: the next unread bit lies bitCount bits before the byte at in; bits of
// bitBuffer above bitCount are either zero or the true next bits of the stream. Once the source
// is exhausted, eight zero bytes follow the data so the fast refill never needs a bounds check;
// a decoder that consumes any of them has run out of data (uzrReadError).
class TBitReader {
public:
  explicit TBitReader(IByteSource &source);

  // Hot state, kept in locals by the inflate loop and written back before any call below.
  uint64_t bitBuffer = 0;
  unsigned bitCount = 0;
  const uint8_t *in = nullptr;
  const uint8_t *end = nullptr;

  // Branch-free refill to at least 56 bits; valid only when end - in >= 8.
  void RefillFast() {
    uint64_t word;
    __builtin_memcpy(&word, in, 8);
    bitBuffer |= word << bitCount;
    in += (63 - bitCount) >> 3;
    bitCount |= 56;
  }

  // Refills to at least 56 bits, reading the source when needed; throws when the data is used up.
  void Refill();
  void Ensure(unsigned bits) {
    if (bitCount < bits)
      Refill();
  }
  uint32_t Peek(unsigned bits) const {
    return static_cast<uint32_t>(bitBuffer & ((uint64_t{1} << bits) - 1));
  }
  void Drop(unsigned bits) {
    bitBuffer >>= bits;
    bitCount -= bits;
  }
  // Up to 32 bits.
  uint32_t Bits(unsigned bits) {
    Ensure(bits);
    uint32_t value = Peek(bits);
    Drop(bits);
    return value;
  }

  void AlignToByte() { Drop(bitCount & 7); }
  // Copies bytes that follow a byte boundary straight from the input; throws at a premature end.
  void ReadAlignedBytes(uint8_t *destination, size_t size);
  // Whether at least this many bits of real data remain unread.
  bool HasBits(unsigned bits);
  // Throws uzrReadError when the decoder has consumed bits past the end of the data.
  void CheckNotOverrun() const;

private:
  uint64_t ConsumedBits() const {
    return (discarded_ + static_cast<uint64_t>(in - buffer_.get())) * 8 - bitCount;
  }
  uint64_t DataBits() const { return (discarded_ + static_cast<uint64_t>(dataEnd_ - buffer_.get())) * 8; }
  void Normalize();
  void ReadMore();

  IByteSource &source_;
  std::unique_ptr<uint8_t[]> buffer_; // not zeroed: only bytes read into it are used
  const uint8_t *dataEnd_ = nullptr;  // end of the real data in the buffer
  uint64_t discarded_ = 0;            // bytes of the stream moved out in front of the buffer
  bool sourceDone_ = false;
};

} // namespace velmora
