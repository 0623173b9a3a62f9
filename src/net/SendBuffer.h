#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string_view>

namespace velmora {

// One chunk of a socket's send queue: a fixed-size byte array with a write count and a read
// count. When everything written has been read both counts return to 0, so the chunk is reused.
class TBuffer {
public:
  static constexpr int32_t kDefaultSize = 1514;

  // A size of 0 or less takes the default.
  explicit TBuffer(int32_t size);

  // Copies as many of the offered bytes as still fit; returns that number.
  std::size_t Write(const char *data, std::size_t length);
  // The bytes written and not yet read.
  std::string_view Peek() const { return {data_.get() + readCount_, writeCount_ - readCount_}; }
  // Advances the read count by at most the unread amount.
  void Remove(std::size_t count);
  std::size_t Size() const { return size_; }
  bool Empty() const { return readCount_ == writeCount_; }

private:
  std::unique_ptr<char[]> data_;
  std::size_t size_;
  std::size_t writeCount_ = 0;
  std::size_t readCount_ = 0;
};

} // namespace velmora
