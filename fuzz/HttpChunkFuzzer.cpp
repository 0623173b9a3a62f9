// Feeds arbitrary bytes to the chunked-body decoder, once whole and once in pieces whose sizes
// come from the input: however the reads cut it, the decoder must find the same payload and the
// same end, and never more payload than it was given.
#include "net/HttpChunkDecoder.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

namespace {

using velmora::THttpChunkDecoder;

struct Result {
  std::string payload;
  THttpChunkDecoder::TStepKind last = THttpChunkDecoder::ckNeedMore;
  std::size_t consumed = 0;
};

Result Decode(std::string_view body, std::size_t piece) {
  THttpChunkDecoder decoder;
  Result result;
  for (std::size_t at = 0; at < body.size(); at += piece) {
    std::string_view input = body.substr(at, piece);
    const std::size_t length = input.size();
    for (;;) {
      const THttpChunkDecoder::TStep step = decoder.Next(input);
      result.last = step.Kind;
      if (step.Kind == THttpChunkDecoder::ckPayload) {
        if (step.Payload.empty())
          std::abort(); // an empty payload step would let a caller spin
        result.payload.append(step.Payload);
        continue;
      }
      break;
    }
    if (result.last == THttpChunkDecoder::ckEnd) {
      result.consumed = at + length - input.size();
      return result;
    }
    if (result.last == THttpChunkDecoder::ckError)
      return result;
  }
  return result;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1)
    return 0;
  const std::size_t piece = 1 + data[0] % 16;
  const std::string_view body(reinterpret_cast<const char *>(data + 1), size - 1);
  const Result whole = Decode(body, body.size() + 1);
  const Result pieces = Decode(body, piece);
  if (whole.payload.size() > body.size() || whole.payload != pieces.payload || whole.last != pieces.last)
    std::abort();
  if (whole.last == THttpChunkDecoder::ckEnd && whole.consumed != pieces.consumed)
    std::abort();
  return 0;
}
