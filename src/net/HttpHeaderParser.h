#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// A Content-Range value "bytes first-last/total"; -1 where the value has none ("*").
struct TContentRange {
  int64_t Begin = -1;
  int64_t End = -1;
  int64_t Total = -1;
};

// What the header of one response says.
struct THttpResponseHead {
  int32_t StatusCode = 0;
  std::string ReasonPhrase;
  int64_t ContentLength = -1;
  std::string ContentType; // lower case
  bool HasLocation = false;
  std::string Location; // as the server wrote it
  std::string AcceptRanges;
  bool HasContentRange = false;
  TContentRange ContentRange;
  // The body comes in chunked transfer coding; Content-Length, when also sent, does not count.
  bool Chunked = false;
  std::vector<std::string> ReceivedHeaders; // every line, status line included
  std::vector<std::string> AuthenticateValues;
};

// Assembles the header of a response in a fixed area and takes it apart line by line. The
// caller receives straight into FreeSpace, commits the count, and asks for the next line until
// the header ends; what follows the header in the area is the first body bytes. Every bound is
// checked: a line longer than the area, too many lines or too many bytes, and any malformed
// status line, length or range are errors, never a wrong value.
class THttpHeaderParser {
public:
  static constexpr std::size_t kAreaSize = 8192;
  static constexpr int kMaxHeaderLines = 256;
  static constexpr std::size_t kMaxHeaderBytes = std::size_t{128} * 1024;

  enum TStep {
    hpNeedMore,  // no complete line in the area yet
    hpLine,      // a header line was taken apart (the first one is the status line)
    hpHeaderEnd, // the blank line ended the header
    hpNoHeader,  // the response begins with "<HTML>" and has no header: all of it is body
    hpError      // see ErrorNumber and ErrorText
  };

  THttpHeaderParser();

  void Reset();
  char *FreeSpace();
  std::size_t FreeSize();
  void Commit(std::size_t count);
  // Copies bytes in, as far as they fit; returns the count taken.
  std::size_t Append(const char *data, std::size_t length);

  TStep Next();

  const THttpResponseHead &Head() const { return head_; }
  THttpResponseHead &Head() { return head_; }
  int LinesTaken() const { return lines_; }
  // The bytes in the area after the header (after hpHeaderEnd), or all of them (after hpNoHeader).
  std::string_view Remainder() const { return {area_.data() + begin_, end_ - begin_}; }
  void ClearRemainder() { begin_ = end_ = 0; }
  uint16_t ErrorNumber() const { return errorNumber_; }
  const std::string &ErrorText() const { return errorText_; }

private:
  TStep Fail(uint16_t number, std::string text);
  TStep TakeLine(std::string_view line);
  bool TakeStatusLine(std::string_view line);
  // nullptr, or why the line is refused.
  const char *TakeField(std::string_view line);
  const char *TakeTransferCoding(std::string_view value);
  bool BlankLineIsAQuirk(std::size_t afterBlank) const;

  std::vector<char> area_;
  std::size_t begin_ = 0;
  std::size_t end_ = 0;
  std::size_t headerBytes_ = 0;
  int lines_ = 0;
  bool done_ = false;
  THttpResponseHead head_;
  uint16_t errorNumber_ = 0;
  std::string errorText_;
};

// Parsers for header values, strict about digits and overflow; false for a malformed value.
bool ParseContentLength(std::string_view value, int64_t &length);
bool ParseContentRange(std::string_view value, TContentRange &range);

} // namespace velmora
