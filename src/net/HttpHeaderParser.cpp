#include "net/HttpHeaderParser.h"

#include "net/HttpErrors.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <limits>

namespace velmora {

namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

std::string LowerText(std::string_view text) {
  std::string result(text);
  std::transform(result.begin(), result.end(), result.begin(), Lower);
  return result;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size())
    return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (Lower(text[i]) != Lower(prefix[i]))
      return false;
  return true;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
    text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t'))
    text.remove_suffix(1);
  return text;
}

// A non-negative decimal number of digits only, or false; overflow is malformed.
bool ParseDecimal(std::string_view text, int64_t &value) {
  if (text.empty())
    return false;
  int64_t result = 0;
  for (char c : text) {
    if (!IsDigit(c))
      return false;
    const int digit = c - '0';
    if (result > (std::numeric_limits<int64_t>::max() - digit) / 10)
      return false;
    result = result * 10 + digit;
  }
  value = result;
  return true;
}

} // namespace

bool ParseContentLength(std::string_view value, int64_t &length) {
  return ParseDecimal(TrimBlanks(value), length);
}

bool ParseContentRange(std::string_view value, TContentRange &range) {
  value = TrimBlanks(value);
  if (!StartsWithNoCase(value, "bytes") || value.size() < 6 || (value[5] != ' ' && value[5] != '\t'))
    return false;
  value = TrimBlanks(value.substr(5));
  const auto slash = value.find('/');
  if (slash == std::string_view::npos)
    return false;
  const std::string_view span = value.substr(0, slash), total = value.substr(slash + 1);
  TContentRange parsed;
  if (total != "*" && !ParseDecimal(total, parsed.Total))
    return false;
  if (span != "*") {
    const auto dash = span.find('-');
    if (dash == std::string_view::npos || !ParseDecimal(span.substr(0, dash), parsed.Begin) ||
        !ParseDecimal(span.substr(dash + 1), parsed.End) || parsed.End < parsed.Begin)
      return false;
    if (parsed.Total >= 0 && parsed.End >= parsed.Total)
      return false;
  } else if (parsed.Total < 0) {
    return false;
  }
  range = parsed;
  return true;
}

THttpHeaderParser::THttpHeaderParser() : area_(kAreaSize) {}

void THttpHeaderParser::Reset() {
  begin_ = end_ = headerBytes_ = 0;
  lines_ = 0;
  done_ = false;
  head_ = THttpResponseHead{};
  errorNumber_ = 0;
  errorText_.clear();
}

char *THttpHeaderParser::FreeSpace() {
  if (begin_ > 0) {
    std::memmove(area_.data(), area_.data() + begin_, end_ - begin_);
    end_ -= begin_;
    begin_ = 0;
  }
  return area_.data() + end_;
}

std::size_t THttpHeaderParser::FreeSize() {
  FreeSpace();
  return kAreaSize - end_;
}

void THttpHeaderParser::Commit(std::size_t count) { end_ += std::min(count, kAreaSize - end_); }

std::size_t THttpHeaderParser::Append(const char *data, std::size_t length) {
  const std::size_t count = std::min(length, FreeSize());
  std::memcpy(FreeSpace(), data, count);
  Commit(count);
  return count;
}

THttpHeaderParser::TStep THttpHeaderParser::Fail(uint16_t number, std::string text) {
  errorNumber_ = number;
  errorText_ = std::move(text);
  done_ = true;
  return hpError;
}

bool THttpHeaderParser::BlankLineIsAQuirk(std::size_t afterBlank) const {
  // Some servers put a blank line before Content-Range; only what has already arrived is looked at.
  return StartsWithNoCase({area_.data() + afterBlank, end_ - afterBlank}, "content-range:");
}

THttpHeaderParser::TStep THttpHeaderParser::Next() {
  while (!done_) {
    const std::string_view unread(area_.data() + begin_, end_ - begin_);
    if (lines_ == 0 && headerBytes_ == 0 && unread.size() >= 6 && StartsWithNoCase(unread, "<HTML>")) {
      done_ = true;
      return hpNoHeader;
    }
    const auto newline = unread.find('\n');
    if (newline == std::string_view::npos) {
      if (unread.size() >= kAreaSize)
        return Fail(httperr::LineTooLong, "HTTP line too long");
      return hpNeedMore;
    }
    std::string_view line = unread.substr(0, newline);
    if (!line.empty() && line.back() == '\r')
      line.remove_suffix(1);
    begin_ += newline + 1;
    headerBytes_ += newline + 1;
    if (headerBytes_ > kMaxHeaderBytes)
      return Fail(httperr::HeaderTooLarge, "HTTP header too large");
    if (line.empty()) {
      if (lines_ == 0 || BlankLineIsAQuirk(begin_))
        continue; // blank lines before the status line carry nothing
      done_ = true;
      if (head_.Chunked)
        head_.ContentLength = -1; // the chunks say where the body ends
      return hpHeaderEnd;
    }
    if (++lines_ > kMaxHeaderLines)
      return Fail(httperr::HeaderTooLarge, "HTTP header too large");
    return TakeLine(line);
  }
  return hpNeedMore;
}

THttpHeaderParser::TStep THttpHeaderParser::TakeLine(std::string_view line) {
  head_.ReceivedHeaders.emplace_back(line);
  if (lines_ == 1)
    return TakeStatusLine(line) ? hpLine : Fail(httperr::MalformedResponse, "Malformed HTTP status line");
  const char *refusal = TakeField(line);
  return refusal == nullptr ? hpLine : Fail(httperr::MalformedResponse, refusal);
}

bool THttpHeaderParser::TakeStatusLine(std::string_view line) {
  // HTTP/d.d, blanks, three digits, then the end or a blank and the reason.
  if (line.size() < 12 || line.substr(0, 5) != "HTTP/" || !IsDigit(line[5]) || line[6] != '.' ||
      !IsDigit(line[7]) || line[8] != ' ')
    return false;
  std::string_view rest = line.substr(9);
  while (!rest.empty() && rest.front() == ' ')
    rest.remove_prefix(1);
  if (rest.size() < 3 || !IsDigit(rest[0]) || !IsDigit(rest[1]) || !IsDigit(rest[2]) ||
      (rest.size() > 3 && rest[3] != ' '))
    return false;
  const int32_t status = (rest[0] - '0') * 100 + (rest[1] - '0') * 10 + (rest[2] - '0');
  if (status < 100 || status > 599)
    return false;
  head_.StatusCode = status;
  head_.ReasonPhrase = std::string(TrimBlanks(rest.substr(3)));
  return true;
}

const char *THttpHeaderParser::TakeField(std::string_view line) {
  if (line.front() == ' ' || line.front() == '\t')
    return nullptr; // a folded continuation: nothing the client reads is ever folded
  const auto colon = line.find(':');
  if (colon == std::string_view::npos)
    return nullptr;
  const std::string name = LowerText(TrimBlanks(line.substr(0, colon)));
  const std::string_view value = TrimBlanks(line.substr(colon + 1));
  if (name == "location") {
    if (!head_.HasLocation) {
      head_.HasLocation = true;
      head_.Location = std::string(value);
    }
  } else if (name == "content-length") {
    int64_t length = 0;
    if (!ParseContentLength(value, length) || (head_.ContentLength >= 0 && head_.ContentLength != length))
      return "Malformed HTTP Content-Length";
    head_.ContentLength = length;
  } else if (name == "content-range") {
    if (!ParseContentRange(value, head_.ContentRange))
      return "Malformed HTTP Content-Range";
    head_.HasContentRange = true;
  } else if (name == "transfer-encoding") {
    return TakeTransferCoding(value);
  } else if (name == "accept-ranges") {
    head_.AcceptRanges = std::string(value);
  } else if (name == "content-type") {
    head_.ContentType = LowerText(value);
  } else if (name == "www-authenticate") {
    head_.AuthenticateValues.emplace_back(value);
  }
  return nullptr;
}

const char *THttpHeaderParser::TakeTransferCoding(std::string_view value) {
  // Only chunked can be undone here, and only as the one coding: bytes in any other coding
  // (gzip, or chunked applied twice) would be stored as if they were the file.
  while (!value.empty()) {
    const auto comma = value.find(',');
    const std::string coding = LowerText(TrimBlanks(value.substr(0, comma)));
    value.remove_prefix(comma == std::string_view::npos ? value.size() : comma + 1);
    if (coding.empty() || coding == "identity")
      continue;
    if (coding != "chunked" || head_.Chunked)
      return "Unsupported HTTP transfer coding";
    head_.Chunked = true;
  }
  return nullptr;
}

} // namespace velmora
