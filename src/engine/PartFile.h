#pragma once

#include "platform/WriteBehind.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// A part file open for one operation or for the run of one request. Part files live in the
// partial-downloads folder, where a symbolic link planted by someone else must never redirect a
// write, so no open follows a link; a new file gets 0666 less the umask.
class TPartFile {
public:
  TPartFile() = default;
  ~TPartFile();
  TPartFile(TPartFile &&other) noexcept;
  TPartFile &operator=(TPartFile &&other) noexcept;
  TPartFile(const TPartFile &) = delete;
  TPartFile &operator=(const TPartFile &) = delete;

  // Opens the file for reading and writing, creating it empty when it does not exist. On failure
  // the result is closed and error (when given) says why.
  static TPartFile Open(const std::string &path, std::string *error = nullptr);

  bool IsOpen() const { return fd_ >= 0; }
  // The current size, or -1 when it cannot be read.
  int64_t Size() const;
  // Writes all of data at offset; false on any failure (a full disk among them), errno says which.
  bool WriteAt(int64_t offset, std::string_view data);
  bool Truncate(int64_t length);
  // For the first part, which the join turns into the final file: the kernel starts writing what
  // arrives as it arrives, so the flush before the rename finds little left to write.
  void WriteBehind(bool on) { writeBehind_.SetOn(on); }
  void Close();

private:
  explicit TPartFile(int fd) : fd_(fd) {}
  int fd_ = -1;
  platform::WriteBehind writeBehind_;
};

// "<tempFileName>.<startByte>": the name of the part that starts at startByte.
std::string PartFileName(std::string_view tempFileName, int64_t startByte);

// The size of a part file, or nullopt when there is none (a link or a folder does not count).
std::optional<int64_t> PartFileSize(const std::string &path);

// Creates the file empty when it does not exist; true when a regular file is there afterwards.
bool CreatePartFile(const std::string &path);

// Removes the part file; true when none is left (also when there was none).
bool DeletePartFile(const std::string &path);

// Bringing a part file to the exact length of its range.
enum class TPartFileFit {
  pffExact,    // it already had that length
  pffCut,      // it was longer and has been cut
  pffTooShort, // it is shorter than its range; left as it is, since zeros would pass for data
  pffMissing,  // there is no such part file
  pffFailed,   // it could not be opened or cut
};
TPartFileFit FitPartFile(const std::string &path, int64_t length);

} // namespace velmora
