#include "net/HttpChunkDecoder.h"

#include "net/HttpErrors.h"
#include "shell/Url.h"

#include <algorithm>
#include <limits>

namespace velmora {

void THttpChunkDecoder::Reset() {
  state_ = sSize;
  left_ = 0;
  line_.clear();
  trailerBytes_ = 0;
  errorNumber_ = 0;
  errorText_.clear();
}

THttpChunkDecoder::TStep THttpChunkDecoder::Fail(uint16_t number, std::string text) {
  state_ = sFailed;
  errorNumber_ = number;
  errorText_ = std::move(text);
  line_.clear();
  return {ckError, {}};
}

bool THttpChunkDecoder::TakeLine(std::string_view &input, std::string_view &line) {
  const std::size_t newline = input.find('\n');
  const std::size_t taken = newline == std::string_view::npos ? input.size() : newline;
  if (line_.size() + taken > kMaxLineLength) {
    Fail(httperr::LineTooLong, "Chunk line too long");
    return false;
  }
  if (newline == std::string_view::npos) {
    line_.append(input);
    input = {};
    return false;
  }
  if (line_.empty()) {
    line = input.substr(0, newline); // whole in this piece: no copy
  } else {
    line_.append(input.substr(0, newline));
    line = line_;
  }
  input.remove_prefix(newline + 1);
  if (!line.empty() && line.back() == '\r')
    line.remove_suffix(1);
  return true;
}

THttpChunkDecoder::TStep THttpChunkDecoder::SizeLine(std::string_view line) {
  int64_t size = 0;
  std::size_t digits = 0;
  for (; digits < line.size() && HexDigitValue(line[digits]) >= 0; ++digits) {
    if (size > (std::numeric_limits<int64_t>::max() >> 4))
      return Fail(httperr::MalformedResponse, "Malformed chunk size");
    size = size * 16 + HexDigitValue(line[digits]);
  }
  std::string_view rest = line.substr(digits);
  while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t'))
    rest.remove_prefix(1);
  // Extensions carry nothing this client uses; only their start is checked.
  if (digits == 0 || (!rest.empty() && rest.front() != ';'))
    return Fail(httperr::MalformedResponse, "Malformed chunk size");
  left_ = size;
  state_ = size == 0 ? sTrailer : sData;
  return {ckNeedMore, {}};
}

THttpChunkDecoder::TStep THttpChunkDecoder::TrailerLine(std::string_view line) {
  trailerBytes_ += line.size() + 2;
  if (trailerBytes_ > kMaxTrailerBytes)
    return Fail(httperr::HeaderTooLarge, "Chunked trailer too large");
  if (line.empty())
    state_ = sDone;
  return {ckNeedMore, {}};
}

THttpChunkDecoder::TStep THttpChunkDecoder::Next(std::string_view &input) {
  for (;;) {
    switch (state_) {
    case sDone:
      return {ckEnd, {}};
    case sFailed:
      return {ckError, {}};
    case sData: {
      if (input.empty())
        return {ckNeedMore, {}};
      const std::size_t count =
          static_cast<std::size_t>(std::min<int64_t>(left_, static_cast<int64_t>(input.size())));
      const std::string_view payload = input.substr(0, count);
      input.remove_prefix(count);
      left_ -= static_cast<int64_t>(count);
      if (left_ == 0)
        state_ = sDataEnd;
      return {ckPayload, payload};
    }
    case sSize:
    case sDataEnd:
    case sTrailer: {
      std::string_view line;
      if (!TakeLine(input, line))
        return {state_ == sFailed ? ckError : ckNeedMore, {}};
      TStep step{ckNeedMore, {}};
      if (state_ == sSize)
        step = SizeLine(line);
      else if (state_ == sTrailer)
        step = TrailerLine(line);
      else if (!line.empty())
        step = Fail(httperr::MalformedResponse, "Malformed chunked body");
      else
        state_ = sSize;
      line_.clear();
      if (step.Kind == ckError)
        return step;
      break;
    }
    }
  }
}

} // namespace velmora
