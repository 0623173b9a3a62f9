#include "unzip/BitReader.h"

#include "unzip/ZipTypes.h"

#include <bit>
#include <cstring>

static_assert(std::endian::native == std::endian::little, "the bit reader loads little-endian words");

namespace velmora {

namespace {
constexpr size_t kInputBlock = size_t{128} * 1024;
constexpr size_t kPadding = 8;
} // namespace

TBitReader::TBitReader(IByteSource &source)
    : source_(source), buffer_(std::make_unique_for_overwrite<uint8_t[]>(kInputBlock + 2 * kPadding)) {
  in = buffer_.get();
  end = in;
  dataEnd_ = in;
}

// Gives back the whole bytes held in bitBuffer so the input pointer is exact.
void TBitReader::Normalize() {
  in -= bitCount >> 3;
  bitCount &= 7;
  bitBuffer &= (uint64_t{1} << bitCount) - 1;
}

void TBitReader::ReadMore() {
  Normalize();
  uint8_t *base = buffer_.get();
  size_t kept = static_cast<size_t>(dataEnd_ - in);
  discarded_ += static_cast<uint64_t>(in - base);
  std::memmove(base, in, kept);
  in = base;
  size_t filled = kept;
  while (filled < kPadding && !sourceDone_) {
    size_t got = source_.Read(base + filled, kInputBlock + kPadding - filled);
    if (got == 0)
      sourceDone_ = true;
    filled += got;
  }
  dataEnd_ = base + filled;
  end = dataEnd_;
  if (sourceDone_) {
    std::memset(base + filled, 0, kPadding);
    end = dataEnd_ + kPadding;
  }
}

void TBitReader::Refill() {
  if (end - in < static_cast<ptrdiff_t>(kPadding) && !sourceDone_)
    ReadMore();
  CheckNotOverrun();
  if (end - in >= static_cast<ptrdiff_t>(kPadding)) {
    RefillFast();
    return;
  }
  // Within the padding: at least 64 bits remain, so this always reaches 56.
  while (bitCount <= 56 && in < end) {
    bitBuffer |= uint64_t{*in++} << bitCount;
    bitCount += 8;
  }
}

void TBitReader::CheckNotOverrun() const {
  if (sourceDone_ && ConsumedBits() > DataBits())
    throw EUnzipError(uzrReadError);
}

bool TBitReader::HasBits(unsigned bits) {
  if (end - in < static_cast<ptrdiff_t>(kPadding) && !sourceDone_)
    ReadMore();
  if (!sourceDone_)
    return true; // eight or more bytes are still ahead
  uint64_t available = DataBits();
  uint64_t consumed = ConsumedBits();
  return consumed <= available && available - consumed >= bits;
}

void TBitReader::ReadAlignedBytes(uint8_t *destination, size_t size) {
  Normalize();
  while (size > 0) {
    if (in == dataEnd_) {
      if (sourceDone_)
        throw EUnzipError(uzrReadError);
      ReadMore();
      continue;
    }
    size_t piece = std::min(size, static_cast<size_t>(dataEnd_ - in));
    std::memcpy(destination, in, piece);
    in += piece;
    destination += piece;
    size -= piece;
  }
}

} // namespace velmora
