#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace velmora {

// One line of the control connection as the reader hands it out.
struct TFtpReplyLine {
  std::string Text;   // without its line end
  int32_t Code = 0;   // the reply code this line belongs to; 0 for a text line outside any reply
  bool Final = false; // the line that ends a reply: the client acts on it
};

// Cuts the bytes of an FTP control connection into lines and groups them into replies by the
// standard: a reply is one line "ddd text", or begins with "ddd-" and ends at the first later
// line that begins with the same three digits followed by a blank. Lines outside a reply that
// do not begin with a digit are passed over as text. Everything is bounded: a line longer than
// kMaxLineLength, a multi-line reply longer than kMaxReplyBytes or a reply whose code is not
// three digits from 100 to 599 is an error, after which the reader hands out nothing more.
class TFtpReplyReader {
public:
  static constexpr std::size_t kMaxLineLength = 4095;
  static constexpr std::size_t kMaxReplyBytes = std::size_t{64} * 1024;

  enum TError { frNone, frLineTooLong, frReplyTooLong, frMalformedReply };

  // With acceptLF a bare LF ends a line; otherwise only CR LF does.
  explicit TFtpReplyReader(bool acceptLF = true) : acceptLF_(acceptLF) {}

  void SetAcceptLF(bool acceptLF) { acceptLF_ = acceptLF; }
  // Forgets everything, for a new connection.
  void Reset();
  // Adds bytes as they arrived; the caller takes the lines with Next before feeding more, so the
  // bytes held never exceed one feed and one unfinished line.
  void Feed(std::string_view bytes);
  // The next complete line, or nothing when none is complete or after an error.
  std::optional<TFtpReplyLine> Next();
  TError Error() const { return error_; }

private:
  std::optional<std::size_t> FindLineEnd() const;
  std::optional<TFtpReplyLine> Classify(std::string line);

  bool acceptLF_;
  std::string pending_;
  std::size_t scanned_ = 0; // bytes of pending_ already searched for a line end
  int32_t openCode_ = 0;    // code of the multi-line reply in progress, 0 when none
  std::size_t replyBytes_ = 0;
  TError error_ = frNone;
};

// The leading number of a reply line: leading blanks, tabs, CR and LF skipped, an optional sign,
// decimal digits; 0 when there are none, and 0 when the number does not fit 32 bits.
int32_t ParseStatusCode(std::string_view line);

// The size a "213" reply gives: the decimal number after the code. Nothing when the line holds no
// number, a number with a sign, or one that does not fit 63 bits.
std::optional<int64_t> ParseSizeReply(std::string_view line);

// The port of a "227" reply: the last two of the six comma-separated numbers "h1,h2,h3,h4,p1,p2"
// (in parentheses or not). Nothing unless all six are numbers from 0 to 255 and the port is not 0.
// The address numbers are ignored: the data connection goes to the server the control connection
// reached, so a reply cannot send it anywhere else.
std::optional<uint16_t> ParsePasvPort(std::string_view line);

// The port of a "229" reply: "(|||port|)", any printable delimiter in place of "|".
std::optional<uint16_t> ParseEpsvPort(std::string_view line);

// Whether text can stand in a command: no CR, LF or NUL, which would end the command early and
// let the rest pass for another one.
bool IsSafeCommandText(std::string_view text);

} // namespace velmora
