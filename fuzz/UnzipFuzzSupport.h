#pragma once

#include "unzip/BitReader.h"
#include "unzip/EntryExtraction.h"
#include "unzip/OutputWindow.h"
#include "unzip/ZipTypes.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>

namespace velmora::fuzzing {

class TMemorySource : public IByteSource {
public:
  TMemorySource(const uint8_t *data, size_t size) : data_(data), size_(size) {}
  size_t Read(uint8_t *buffer, size_t size) override {
    size_t piece = std::min(size, size_ - at_);
    std::memcpy(buffer, data_ + at_, piece);
    at_ += piece;
    return piece;
  }

private:
  const uint8_t *data_;
  size_t size_;
  size_t at_ = 0;
};

class TDiscardSink : public IByteSink {
public:
  void Write(const uint8_t *, size_t) override {}
};

// Input layout: two bytes of flags, three bytes of declared size (at most 16 MiB), then the
// compressed stream. Any result is fine; a crash, a hang or a sanitizer report is not.
inline void DecodeOne(uint16_t method, const uint8_t *data, size_t size) {
  if (size < 5)
    return;
  uint16_t flags = static_cast<uint16_t>(data[0] | data[1] << 8);
  uint64_t declared = uint64_t{data[2]} | uint64_t{data[3]} << 8 | uint64_t{data[4]} << 16;
  TMemorySource source(data + 5, size - 5);
  TDiscardSink sink;
  try {
    TOutputWindow output(sink, declared);
    DecompressEntryData(method, flags, source, output);
    output.Finish();
  } catch (const EUnzipError &) {
  }
}

} // namespace velmora::fuzzing
