#include "unzip/EntrySource.h"

#include "unzip/ZipTypes.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

namespace velmora {

TEntrySource::TEntrySource(int archive, uint64_t dataOffset, uint64_t size, const std::atomic<bool> *cancel,
                           std::function<void(int percent)> beforeBlock)
    : archive_(archive), offset_(dataOffset), size_(size), cancel_(cancel),
      beforeBlock_(std::move(beforeBlock)) {}

size_t TEntrySource::Read(uint8_t *buffer, size_t size) {
  if (done_ == size_)
    return 0;
  if (beforeBlock_)
    beforeBlock_(static_cast<int>(done_ * 100 / size_));
  if (cancel_ != nullptr && cancel_->load())
    throw EUnzipError(uzrCancelled);
  size_t wanted = static_cast<size_t>(std::min<uint64_t>(size, size_ - done_));
  for (;;) {
    ssize_t got = ::pread(archive_, buffer, wanted, static_cast<off_t>(offset_ + done_));
    if (got < 0 && errno == EINTR)
      continue;
    if (got <= 0)
      throw EUnzipError(uzrReadError); // unreadable, or the archive ends before the data does
    done_ += static_cast<uint64_t>(got);
    return static_cast<size_t>(got);
  }
}

} // namespace velmora
