// Feeds arbitrary control-connection bytes to the FTP reply reader, in pieces of varying size,
// and every line it hands out to the parsers of size, passive and extended passive replies.
#include "net/FtpReply.h"

#include <cstdint>
#include <cstdlib>
#include <string_view>

namespace {

using namespace velmora;

void Check(bool condition) {
  if (!condition)
    std::abort();
}

void Inspect(const TFtpReplyLine &line) {
  Check(line.Text.size() <= TFtpReplyReader::kMaxLineLength);
  Check(!line.Final || (line.Code >= 100 && line.Code <= 599));
  if (const auto size = ParseSizeReply(line.Text))
    Check(*size >= 0);
  if (const auto port = ParsePasvPort(line.Text))
    Check(*port != 0);
  if (const auto port = ParseEpsvPort(line.Text))
    Check(*port != 0);
  ParseStatusCode(line.Text);
  IsSafeCommandText(line.Text);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 2)
    return 0;
  // The first byte picks the line-end rule and the size of the pieces.
  const bool acceptLF = (data[0] & 1) != 0;
  const std::size_t piece = 1 + (data[0] >> 1);
  const std::string_view bytes(reinterpret_cast<const char *>(data + 1), size - 1);
  TFtpReplyReader reader(acceptLF);
  for (std::size_t at = 0; at < bytes.size(); at += piece) {
    reader.Feed(bytes.substr(at, piece));
    while (const auto line = reader.Next())
      Inspect(*line);
    if (reader.Error() != TFtpReplyReader::frNone) {
      reader.Feed("220 more\r\n");
      Check(!reader.Next()); // nothing after an error
      break;
    }
  }
  return 0;
}
