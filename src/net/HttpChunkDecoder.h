#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace velmora {

// Takes a body in chunked transfer coding apart, as it arrives in pieces of any size: the chunk
// sizes (hex), extensions (ignored), the data, the last chunk and the trailer (read and dropped).
// Payload comes out as views into the input, so nothing is copied; only a line split across two
// pieces is kept, in a buffer bounded like every other line. Any malformed framing is an error,
// and nothing after it comes out.
class THttpChunkDecoder {
public:
  static constexpr std::size_t kMaxLineLength = 4096;
  static constexpr std::size_t kMaxTrailerBytes = std::size_t{64} * 1024;

  enum TStepKind {
    ckPayload,  // Payload holds the next data bytes
    ckNeedMore, // the input is used up; feed the next piece
    ckEnd,      // the body ended; the input holds whatever followed it
    ckError     // see ErrorNumber and ErrorText
  };
  struct TStep {
    TStepKind Kind;
    std::string_view Payload;
  };

  void Reset();
  // Takes what it needs from the front of input and says what it found.
  TStep Next(std::string_view &input);

  bool Finished() const { return state_ == sDone; }
  uint16_t ErrorNumber() const { return errorNumber_; }
  const std::string &ErrorText() const { return errorText_; }

private:
  enum TState { sSize, sData, sDataEnd, sTrailer, sDone, sFailed };

  // Collects one line; true with the line (without CR LF) once it is whole.
  bool TakeLine(std::string_view &input, std::string_view &line);
  TStep SizeLine(std::string_view line);
  TStep TrailerLine(std::string_view line);
  TStep Fail(uint16_t number, std::string text);

  TState state_ = sSize;
  int64_t left_ = 0; // data bytes still due in the current chunk
  std::string line_;
  std::size_t trailerBytes_ = 0;
  uint16_t errorNumber_ = 0;
  std::string errorText_;
};

} // namespace velmora
