#pragma once

#include "shell/Constants.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

// Text helpers that need neither settings nor files.

// The user's decimal separator (LC_NUMERIC of the current locale).
std::string DecimalSeparator();

// A byte count as shown in the lists: "Unknown" (translated) for -1, else B, kB, MB or GB; limits
// are strict (1024 is "1024 B", 1025 is "1 kB"), kB are rounded halves to even, MB and GB carry two
// decimals with the user's decimal separator.
std::string BytesToPresentableString(int64_t n, const TConstants &constants);
std::string BytesToPresentableString(int64_t n, std::string_view unknownWord,
                                     std::string_view decimalSeparator);

// Hours (at least two digits, no upper limit), minutes and seconds joined by ":"; "Number out of
// range" for a negative number.
std::string SecondsToTimeString(int64_t Number);
// Reads "hh:mm:ss" back from characters 1-2, 4-5 and 7-8; 0 when one of them is no integer.
int32_t TimeStringToSeconds(std::string_view text);

// Whether the text after the first "." of FileName (the whole name without a ".") is digits only;
// an empty text counts as digits. Part files end in their decimal start offset.
bool IsNumericExtension(std::string_view FileName);

// Every "%20" becomes a blank; no other escape is decoded.
std::string DecodeSpaces(std::string_view text);

// Appends the lines of Stream to strlstTemp: lines end at CR, LF or CR LF; within a line, text after
// a NUL is dropped; a last line without a break is kept.
void LoadMemoFromMemoryStream(std::vector<std::string> &strlstTemp, std::string_view Stream);

// File-name mask matching without regard to ASCII letter case: "*" any run of characters, "?" one
// character, "[abc]", "[a-z]" and "[!a-z]" sets.
bool MatchesMask(std::string_view text, std::string_view mask);

} // namespace velmora
