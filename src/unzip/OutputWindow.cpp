#include "unzip/OutputWindow.h"

#include "unzip/Crc32.h"
#include "unzip/ZipTypes.h"

#include <algorithm>
#include <cstring>

namespace velmora {

TOutputWindow::TOutputWindow(IByteSink &sink, uint64_t declaredSize)
    : sink_(sink), declaredSize_(declaredSize),
      buffer_(std::make_unique_for_overwrite<uint8_t[]>(kHistory + kBlock + kSlack)) {
  pos = buffer_.get();
  unflushed_ = pos;
  fastLimit = buffer_.get() + kHistory + kBlock;
}

void TOutputWindow::Flush() {
  size_t size = static_cast<size_t>(pos - unflushed_);
  if (flushedTotal_ + size > declaredSize_)
    throw EUnzipError(uzrCrcMismatch);
  if (size > 0) {
    crc_ = Crc32Update(crc_, unflushed_, size);
    sink_.Write(unflushed_, size);
    flushedTotal_ += size;
  }
  uint8_t *base = buffer_.get();
  size_t held = static_cast<size_t>(pos - base);
  if (held > kHistory) {
    std::memmove(base, pos - kHistory, kHistory);
    pos = base + kHistory;
  }
  unflushed_ = pos;
}

void TOutputWindow::Put(const uint8_t *data, size_t size) {
  while (size > 0) {
    size_t piece = std::min(size, static_cast<size_t>(fastLimit - pos));
    std::memcpy(pos, data, piece);
    pos += piece;
    data += piece;
    size -= piece;
    if (pos >= fastLimit)
      Flush();
  }
}

void TOutputWindow::CopyMatch(uint32_t distance, uint32_t length, bool zerosBeforeStart) {
  uint64_t total = Total();
  if (distance > total) {
    if (!zerosBeforeStart)
      throw EUnzipError(uzrCrcMismatch);
    uint32_t zeros = static_cast<uint32_t>(std::min<uint64_t>(distance - total, length));
    for (uint32_t i = 0; i < zeros; ++i)
      PutByte(0);
    length -= zeros;
  }
  if (length > 0 && distance > static_cast<size_t>(pos - buffer_.get()))
    throw EUnzipError(uzrCrcMismatch);
  while (length > 0) {
    // Never more than fits before the next flush, so the source stays inside the buffer.
    uint32_t piece = std::min<uint32_t>(length, static_cast<uint32_t>(fastLimit - pos));
    const uint8_t *from = pos - distance;
    for (uint32_t i = 0; i < piece; ++i)
      pos[i] = from[i];
    pos += piece;
    length -= piece;
    if (pos >= fastLimit)
      Flush();
  }
}

uint32_t TOutputWindow::Finish() {
  Flush();
  if (flushedTotal_ != declaredSize_)
    throw EUnzipError(uzrCrcMismatch);
  return crc_;
}

} // namespace velmora
