#pragma once

#include "unzip/BitReader.h"

#include <atomic>
#include <cstdint>
#include <functional>

namespace velmora {

// The compressed bytes of one entry, read from the archive by their declared size. Before each
// block it checks the cancel flag and lets the caller run (progress, a chance to keep windows
// responsive).
class TEntrySource : public IByteSource {
public:
  TEntrySource(int archive, uint64_t dataOffset, uint64_t size, const std::atomic<bool> *cancel,
               std::function<void(int percent)> beforeBlock);
  size_t Read(uint8_t *buffer, size_t size) override;

private:
  int archive_;
  uint64_t offset_;
  uint64_t size_;
  uint64_t done_ = 0;
  const std::atomic<bool> *cancel_;
  std::function<void(int percent)> beforeBlock_;
};

} // namespace velmora
