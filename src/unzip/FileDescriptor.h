#pragma once

#include <unistd.h>
#include <utility>

namespace velmora {

// Owns one open file descriptor.
class TFileDescriptor {
public:
  TFileDescriptor() = default;
  explicit TFileDescriptor(int fd) : fd_(fd) {}
  ~TFileDescriptor() { Close(); }
  TFileDescriptor(TFileDescriptor &&other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
  TFileDescriptor &operator=(TFileDescriptor &&other) noexcept {
    if (this != &other) {
      Close();
      fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
  }
  TFileDescriptor(const TFileDescriptor &) = delete;
  TFileDescriptor &operator=(const TFileDescriptor &) = delete;

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  // Closes now and reports whether the close succeeded (a failed close can mean lost data).
  bool Close() {
    if (fd_ < 0)
      return true;
    return ::close(std::exchange(fd_, -1)) == 0;
  }

private:
  int fd_ = -1;
};

} // namespace velmora
