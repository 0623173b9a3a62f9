#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace velmora {

// Where the decompressed bytes of one entry go.
class IByteSink {
public:
  virtual ~IByteSink() = default;
  // Takes every byte or throws EUnzipError.
  virtual void Write(const uint8_t *data, size_t size) = 0;
};

// The output of a decompressor: the last 32768 bytes stay available for back references, new
// bytes are gathered into large blocks and handed to the sink with their CRC-32. Nothing beyond
// the declared size is ever handed on, so a bomb stops at the first block past it.
class TOutputWindow {
public:
  static constexpr size_t kHistory = 32768;
  static constexpr size_t kBlock = size_t{256} * 1024;
  static constexpr size_t kSlack = 512; // room for one longest match plus an 8-byte overshoot

  TOutputWindow(IByteSink &sink, uint64_t declaredSize);

  // Hot state for the inflate loop: writing may go on while pos < fastLimit.
  uint8_t *pos = nullptr;
  uint8_t *fastLimit = nullptr;
  // The oldest byte a back reference may reach: the buffer starts with the retained history.
  const uint8_t *HistoryStart() const { return buffer_.get(); }

  // Hands the gathered bytes to the sink and keeps the history; call when pos >= fastLimit.
  void Flush();
  void PutByte(uint8_t value) {
    *pos++ = value;
    if (pos >= fastLimit)
      Flush();
  }
  void Put(const uint8_t *data, size_t size);
  // Copies a back reference; bytes before the start of the output read as zeros when
  // zerosBeforeStart (implode's rule), else such a reference is damaged data.
  void CopyMatch(uint32_t distance, uint32_t length, bool zerosBeforeStart);

  uint64_t Total() const { return flushedTotal_ + static_cast<uint64_t>(pos - unflushed_); }
  uint64_t DeclaredSize() const { return declaredSize_; }
  // Flushes the rest and checks that exactly the declared size was produced; returns the CRC-32.
  uint32_t Finish();

private:
  IByteSink &sink_;
  uint64_t declaredSize_;
  std::unique_ptr<uint8_t[]> buffer_; // not zeroed: only written bytes are ever read
  uint8_t *unflushed_ = nullptr;
  uint64_t flushedTotal_ = 0;
  uint32_t crc_ = 0;
};

} // namespace velmora
