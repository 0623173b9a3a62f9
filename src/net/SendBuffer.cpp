#include "net/SendBuffer.h"

#include <algorithm>
#include <cstring>

namespace velmora {

namespace {
std::size_t EffectiveSize(int32_t size) {
  return static_cast<std::size_t>(size > 0 ? size : TBuffer::kDefaultSize);
}
} // namespace

TBuffer::TBuffer(int32_t size) : data_(new char[EffectiveSize(size)]), size_(EffectiveSize(size)) {}

std::size_t TBuffer::Write(const char *data, std::size_t length) {
  const std::size_t count = std::min(length, size_ - writeCount_);
  if (count > 0)
    std::memcpy(data_.get() + writeCount_, data, count);
  writeCount_ += count;
  return count;
}

void TBuffer::Remove(std::size_t count) {
  readCount_ += std::min(count, writeCount_ - readCount_);
  if (readCount_ == writeCount_)
    readCount_ = writeCount_ = 0;
}

} // namespace velmora
