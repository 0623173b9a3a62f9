#include "store/IndependentGeneralFunctions.h"

#include "shell/ReportError.h"

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <optional>

namespace velmora {

namespace {

constexpr int64_t kKilo = 1024;
constexpr int64_t kMega = kKilo * 1024;
constexpr int64_t kGiga = kMega * 1024;

// n / unit with two decimals, rounded halves away from zero on the exact quotient, and with at most
// ten significant digits (the digits beyond them read as zeros), as the fixed-point format of the
// lists has always shown sizes.
std::string TwoDecimals(int64_t n, int64_t unit, std::string_view separator) {
  const auto count = static_cast<uint64_t>(n);
  const auto divisor = static_cast<uint64_t>(unit);
  const uint64_t whole = count / divisor;
  const uint64_t rest = count % divisor;
  int integerDigits = 1;
  for (uint64_t left = whole; left >= 10; left /= 10)
    ++integerDigits;
  const int decimals = std::max(0, std::min(2, 10 - integerDigits));
  uint64_t scale = 1;
  for (int i = 0; i < decimals; ++i)
    scale *= 10;
  // rest < 2^30, so rest * scale * 2 cannot overflow.
  uint64_t hundredths = whole * scale + (rest * scale * 2 + divisor) / (divisor * 2);
  for (int i = decimals; i < 2; ++i)
    hundredths *= 10;
  char fraction[8];
  (void)std::snprintf(fraction, sizeof fraction, "%02u", static_cast<unsigned>(hundredths % 100));
  return std::to_string(hundredths / 100) + std::string(separator) + fraction;
}

int64_t KiloRoundedHalfToEven(int64_t n) {
  const int64_t whole = n / kKilo;
  const int64_t rest = n % kKilo;
  if (rest > kKilo / 2 || (rest == kKilo / 2 && whole % 2 != 0))
    return whole + 1;
  return whole;
}

// An integer as the lists have always read one: optional blanks, an optional sign, then decimal
// digits or "$" and hex digits.
std::optional<int32_t> ReadInteger(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size() && text[i] == ' ')
    ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '-' || text[i] == '+'))
    negative = text[i++] == '-';
  const bool hex = i < text.size() && text[i] == '$';
  if (hex)
    ++i;
  if (i == text.size())
    return std::nullopt;
  int64_t value = 0;
  for (; i < text.size(); ++i) {
    const char c = text[i];
    int digit = -1;
    if (c >= '0' && c <= '9')
      digit = c - '0';
    else if (hex && c >= 'a' && c <= 'f')
      digit = c - 'a' + 10;
    else if (hex && c >= 'A' && c <= 'F')
      digit = c - 'A' + 10;
    if (digit < 0)
      return std::nullopt;
    value = value * (hex ? 16 : 10) + digit;
  }
  return static_cast<int32_t>(negative ? -value : value);
}

char LowerAscii(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Matches one "[...]" set at the start of mask against c; returns the length of the set in the mask,
// or 0 when the set is not closed (then "[" is an ordinary character).
std::size_t MatchSet(std::string_view mask, char c, bool &matched) {
  std::size_t i = 1;
  const bool negated = i < mask.size() && mask[i] == '!';
  if (negated)
    ++i;
  bool inSet = false;
  for (; i < mask.size() && mask[i] != ']'; ++i) {
    const char low = LowerAscii(mask[i]);
    if (i + 2 < mask.size() && mask[i + 1] == '-' && mask[i + 2] != ']') {
      inSet = inSet || (c >= low && c <= LowerAscii(mask[i + 2]));
      i += 2;
    } else {
      inSet = inSet || c == low;
    }
  }
  if (i >= mask.size())
    return 0;
  matched = inSet != negated;
  return i + 1;
}

bool MatchFrom(std::string_view text, std::string_view mask) {
  // Iterative glob with one back-tracking point for the last "*": linear in practice, never
  // exponential on hostile masks.
  std::size_t t = 0, m = 0;
  std::size_t starMask = std::string_view::npos, starText = 0;
  while (t < text.size()) {
    if (m < mask.size() && mask[m] == '*') {
      starMask = m++;
      starText = t;
      continue;
    }
    if (m < mask.size()) {
      const char c = LowerAscii(text[t]);
      bool matched = false;
      std::size_t length = mask[m] == '[' ? MatchSet(mask.substr(m), c, matched) : 0;
      if (length == 0) {
        length = 1;
        matched = mask[m] == '?' || LowerAscii(mask[m]) == c;
      }
      if (matched) {
        ++t;
        m += length;
        continue;
      }
    }
    if (starMask == std::string_view::npos)
      return false;
    m = starMask + 1;
    t = ++starText;
  }
  while (m < mask.size() && mask[m] == '*')
    ++m;
  return m == mask.size();
}

} // namespace

std::string DecimalSeparator() {
  const lconv *conventions = std::localeconv();
  if (conventions == nullptr || conventions->decimal_point == nullptr || *conventions->decimal_point == '\0')
    return ".";
  return conventions->decimal_point;
}

std::string BytesToPresentableString(int64_t n, const TConstants &constants) {
  return BytesToPresentableString(n, constants.Unknown, DecimalSeparator());
}

std::string BytesToPresentableString(int64_t n, std::string_view unknownWord,
                                     std::string_view decimalSeparator) {
  return Guarded("function BytesToPresentableString(n : integer) : string", [&] {
    if (n == -1)
      return std::string(unknownWord);
    if (n > kGiga)
      return TwoDecimals(n, kGiga, decimalSeparator) + " GB";
    if (n > kMega)
      return TwoDecimals(n, kMega, decimalSeparator) + " MB";
    if (n > kKilo)
      return std::to_string(KiloRoundedHalfToEven(n)) + " kB";
    return std::to_string(n) + " B";
  });
}

std::string SecondsToTimeString(int64_t Number) {
  return Guarded("function SecondsToTimeString(Number : integer) : string", [&] {
    if (Number < 0)
      return std::string("Number out of range");
    char text[40];
    (void)std::snprintf(text, sizeof text, "%02lld:%02d:%02d", static_cast<long long>(Number / 3600),
                        static_cast<int>(Number / 60 % 60), static_cast<int>(Number % 60));
    return std::string(text);
  });
}

int32_t TimeStringToSeconds(std::string_view text) {
  return Guarded("function TimeStringToSeconds(text : string) : integer", [&] {
    const auto field = [&](std::size_t first) {
      return ReadInteger(text.substr(std::min(first, text.size()), 2));
    };
    const auto hours = field(0), minutes = field(3), seconds = field(6);
    if (!hours || !minutes || !seconds)
      return 0;
    return *hours * 3600 + *minutes * 60 + *seconds;
  });
}

bool IsNumericExtension(std::string_view FileName) {
  const auto dot = FileName.find('.');
  const std::string_view extension = dot == std::string_view::npos ? FileName : FileName.substr(dot + 1);
  return extension.find_first_not_of("0123456789") == std::string_view::npos;
}

std::string DecodeSpaces(std::string_view text) {
  std::string decoded(text);
  for (auto at = decoded.find("%20"); at != std::string::npos; at = decoded.find("%20", at))
    decoded.replace(at, 3, " ");
  return decoded;
}

void LoadMemoFromMemoryStream(std::vector<std::string> &strlstTemp, std::string_view Stream) {
  std::size_t start = 0;
  const auto addLine = [&](std::size_t end) {
    const std::string_view line = Stream.substr(start, end - start);
    strlstTemp.emplace_back(line.substr(0, line.find('\0')));
  };
  for (std::size_t i = 0; i < Stream.size(); ++i) {
    if (Stream[i] != '\r' && Stream[i] != '\n')
      continue;
    addLine(i);
    if (Stream[i] == '\r' && i + 1 < Stream.size() && Stream[i + 1] == '\n')
      ++i;
    start = i + 1;
  }
  if (start < Stream.size())
    addLine(Stream.size());
}

bool MatchesMask(std::string_view text, std::string_view mask) { return MatchFrom(text, mask); }

} // namespace velmora
