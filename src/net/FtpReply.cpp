#include "net/FtpReply.h"

#include <limits>

namespace velmora {

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Decimal digits at the start of text, at most maxDigits of them; nothing when there are none or
// more follow.
std::optional<int64_t> LeadingDigits(std::string_view text, std::size_t maxDigits, std::size_t &used) {
  int64_t value = 0;
  used = 0;
  while (used < text.size() && IsDigit(text[used])) {
    if (used == maxDigits)
      return std::nullopt;
    value = value * 10 + (text[used] - '0');
    ++used;
  }
  if (used == 0)
    return std::nullopt;
  return value;
}

std::string_view AfterCode(std::string_view line) {
  std::size_t digits = 0;
  while (digits < line.size() && IsDigit(line[digits]))
    ++digits;
  return line.substr(digits);
}

} // namespace

void TFtpReplyReader::Reset() {
  pending_.clear();
  scanned_ = 0;
  openCode_ = 0;
  replyBytes_ = 0;
  error_ = frNone;
}

void TFtpReplyReader::Feed(std::string_view bytes) {
  if (error_ == frNone)
    pending_.append(bytes);
}

std::optional<std::size_t> TFtpReplyReader::FindLineEnd() const {
  for (std::size_t i = scanned_; i < pending_.size(); ++i) {
    if (pending_[i] != '\n')
      continue;
    if (acceptLF_ || (i > 0 && pending_[i - 1] == '\r'))
      return i;
  }
  return std::nullopt;
}

std::optional<TFtpReplyLine> TFtpReplyReader::Next() {
  if (error_ != frNone)
    return std::nullopt;
  const std::optional<std::size_t> end = FindLineEnd();
  if (!end) {
    scanned_ = pending_.size();
    if (pending_.size() > kMaxLineLength)
      error_ = frLineTooLong;
    return std::nullopt;
  }
  std::string line = pending_.substr(0, *end);
  pending_.erase(0, *end + 1);
  scanned_ = 0;
  while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
    line.pop_back();
  if (line.size() > kMaxLineLength) {
    error_ = frLineTooLong;
    return std::nullopt;
  }
  return Classify(std::move(line));
}

std::optional<TFtpReplyLine> TFtpReplyReader::Classify(std::string line) {
  TFtpReplyLine result;
  if (openCode_ != 0) {
    const bool sameCode = line.size() >= 3 && line.compare(0, 3, std::to_string(openCode_)) == 0;
    result.Code = openCode_;
    if (sameCode && (line.size() == 3 || line[3] == ' ')) {
      result.Final = true;
      openCode_ = 0;
      replyBytes_ = 0;
    } else {
      replyBytes_ += line.size() + 1;
      if (replyBytes_ > kMaxReplyBytes) {
        error_ = frReplyTooLong;
        return std::nullopt;
      }
    }
    result.Text = std::move(line);
    return result;
  }
  if (line.empty() || !IsDigit(line.front())) {
    result.Text = std::move(line);
    return result; // a text line between replies
  }
  std::size_t used = 0;
  const std::optional<int64_t> code = LeadingDigits(line, 3, used);
  if (!code || used != 3 || *code < 100 || *code > 599) {
    error_ = frMalformedReply;
    return std::nullopt;
  }
  result.Code = static_cast<int32_t>(*code);
  if (line.size() > 3 && line[3] == '-') {
    openCode_ = result.Code;
    replyBytes_ = line.size() + 1;
  } else {
    result.Final = true;
  }
  result.Text = std::move(line);
  return result;
}

int32_t ParseStatusCode(std::string_view line) {
  std::size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t' || line[i] == '\r' || line[i] == '\n'))
    ++i;
  bool negative = false;
  if (i < line.size() && (line[i] == '+' || line[i] == '-')) {
    negative = line[i] == '-';
    ++i;
  }
  int64_t value = 0;
  for (; i < line.size() && IsDigit(line[i]); ++i) {
    value = value * 10 + (line[i] - '0');
    if (value > std::numeric_limits<int32_t>::max())
      return 0;
  }
  return static_cast<int32_t>(negative ? -value : value);
}

std::optional<int64_t> ParseSizeReply(std::string_view line) {
  std::string_view rest = AfterCode(line);
  const std::size_t first = rest.find_first_not_of(" \t");
  if (first == std::string_view::npos || first == 0)
    return std::nullopt;
  rest.remove_prefix(first);
  int64_t value = 0;
  std::size_t i = 0;
  for (; i < rest.size() && IsDigit(rest[i]); ++i) {
    const int digit = rest[i] - '0';
    if (value > (std::numeric_limits<int64_t>::max() - digit) / 10)
      return std::nullopt;
    value = value * 10 + digit;
  }
  if (i == 0 || rest.substr(i).find_first_not_of(" \t") != std::string_view::npos)
    return std::nullopt;
  return value;
}

std::optional<uint16_t> ParsePasvPort(std::string_view line) {
  std::string_view rest = AfterCode(line);
  const std::size_t open = rest.find('(');
  rest.remove_prefix(
      open != std::string_view::npos ? open + 1 : std::min(rest.size(), rest.find_first_of("0123456789")));
  int64_t numbers[6] = {};
  for (int n = 0; n < 6; ++n) {
    std::size_t used = 0;
    const std::optional<int64_t> value = LeadingDigits(rest, 3, used);
    if (!value || *value > 255)
      return std::nullopt;
    numbers[n] = *value;
    rest.remove_prefix(used);
    if (n < 5) {
      if (rest.empty() || rest.front() != ',')
        return std::nullopt;
      rest.remove_prefix(1);
    }
  }
  const int64_t port = numbers[4] * 256 + numbers[5];
  if (port == 0)
    return std::nullopt;
  return static_cast<uint16_t>(port);
}

std::optional<uint16_t> ParseEpsvPort(std::string_view line) {
  std::string_view rest = AfterCode(line);
  const std::size_t open = rest.find('(');
  if (open == std::string_view::npos || rest.size() < open + 6)
    return std::nullopt;
  rest.remove_prefix(open + 1);
  const char delimiter = rest.front();
  if (delimiter < 33 || delimiter > 126 || IsDigit(delimiter) || rest[1] != delimiter || rest[2] != delimiter)
    return std::nullopt;
  rest.remove_prefix(3);
  std::size_t used = 0;
  const std::optional<int64_t> port = LeadingDigits(rest, 5, used);
  if (!port || *port < 1 || *port > 65535 || rest.size() < used + 2 || rest[used] != delimiter ||
      rest[used + 1] != ')')
    return std::nullopt;
  return static_cast<uint16_t>(*port);
}

bool IsSafeCommandText(std::string_view text) {
  return text.find_first_of(std::string_view("\r\n\0", 3)) == std::string_view::npos;
}

} // namespace velmora
