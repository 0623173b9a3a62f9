#pragma once

#include "platform/WriteBehind.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace velmora {

// How the local file of a retrieve is shared while the client writes it.
enum TFtpShareMode {
  ftpShareCompat,
  ftpShareExclusive,
  ftpShareDenyWrite,
  ftpShareDenyRead,
  ftpShareDenyNone
};

// The local file a retrieve writes, open for the run of one transfer.
class TFtpLocalFile {
public:
  TFtpLocalFile() = default;
  ~TFtpLocalFile() { Close(); }
  TFtpLocalFile(const TFtpLocalFile &) = delete;
  TFtpLocalFile &operator=(const TFtpLocalFile &) = delete;

  // Opens path for writing from startAt on. A start of 0 makes the file empty; a later start
  // needs an existing file at least that long, since writing beyond its end would leave a hole of
  // zeros that passes for data. No symbolic link is followed. Every mode but compat and deny-none
  // takes an exclusive advisory lock, so two transfers never write the same file at once.
  bool Open(const std::string &path, int64_t startAt, TFtpShareMode mode);
  // Writes all of data at the current position and moves past it; false on any failure, which
  // WriteError then names (an errno value; 0 while every write succeeded).
  bool Write(const char *data, std::size_t length);
  int WriteError() const { return writeError_; }
  // For a file that is flushed soon after it is complete: the kernel writes it as it arrives.
  void WriteBehind(bool on) { writeBehind_.SetOn(on); }
  bool IsOpen() const { return fd_ >= 0; }
  void Close();

private:
  int fd_ = -1;
  int64_t position_ = 0;
  int writeError_ = 0;
  platform::WriteBehind writeBehind_;
};

} // namespace velmora
