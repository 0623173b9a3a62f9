#include "net/HttpChunkDecoder.h"
#include "net/HttpErrors.h"

#include <gtest/gtest.h>

#include <string>

namespace velmora {
namespace {

struct Outcome {
  std::string payload;
  THttpChunkDecoder::TStepKind last = THttpChunkDecoder::ckNeedMore;
  uint16_t error = 0;
  std::string after; // what followed the end of the body
};

// Feeds the body in pieces of the given size, as reads would bring it.
Outcome Decode(const std::string &body, std::size_t piece) {
  THttpChunkDecoder decoder;
  Outcome outcome;
  for (std::size_t at = 0; at < body.size() && outcome.last != THttpChunkDecoder::ckEnd &&
                           outcome.last != THttpChunkDecoder::ckError;
       at += piece) {
    std::string_view input = std::string_view(body).substr(at, piece);
    for (;;) {
      const THttpChunkDecoder::TStep step = decoder.Next(input);
      outcome.last = step.Kind;
      if (step.Kind == THttpChunkDecoder::ckPayload) {
        outcome.payload.append(step.Payload);
        continue;
      }
      if (step.Kind == THttpChunkDecoder::ckEnd)
        outcome.after = std::string(input) + body.substr(std::min(body.size(), at + piece));
      break;
    }
  }
  outcome.error = decoder.ErrorNumber();
  return outcome;
}

TEST(HttpChunkDecoder, EveryWayOfSplittingTheBodyGivesThePayload) {
  using K = THttpChunkDecoder;
  struct Case {
    const char *name;
    std::string body;
    std::string payload; // what comes out before the end or the error
    K::TStepKind last;
    uint16_t error;
    std::string after;
  } cases[] = {
      {"TwoChunks", "5\r\nhello\r\n6\r\n world\r\n0\r\n\r\n", "hello world", K::ckEnd, 0, ""},
      {"UpperAndLowerHexWithLeadingZeros", "00A\r\n0123456789\r\nb\r\nabcdefghijk\r\n0\r\n\r\n",
       "0123456789abcdefghijk", K::ckEnd, 0, ""},
      {"ExtensionsAreIgnored", "5 ; name=\"va;lue\"\r\nhello\r\n0;last\r\n\r\n", "hello", K::ckEnd, 0, ""},
      {"TrailersAreDropped", "3\r\nabc\r\n0\r\nX-Sum: 1\r\nX-Other: 2\r\n\r\nNEXT", "abc", K::ckEnd, 0,
       "NEXT"},
      {"BareLineFeeds", "3\nabc\n0\n\n", "abc", K::ckEnd, 0, ""},
      {"EmptyBody", "0\r\n\r\n", "", K::ckEnd, 0, ""},
      {"TruncatedBeforeTheLastChunk", "5\r\nhello\r\n", "hello", K::ckNeedMore, 0, ""},
      {"TruncatedInsideTheTrailer", "1\r\nx\r\n0\r\nX-A: 1\r\n", "x", K::ckNeedMore, 0, ""},
      {"BadHex", "5\r\nhello\r\nzz\r\n", "hello", K::ckError, httperr::MalformedResponse, ""},
      {"EmptySizeLine", "\r\nhello\r\n0\r\n\r\n", "", K::ckError, httperr::MalformedResponse, ""},
      {"PrefixedHex", "0x5\r\nhello\r\n", "", K::ckError, httperr::MalformedResponse, ""},
      {"NegativeSize", "-5\r\nhello\r\n", "", K::ckError, httperr::MalformedResponse, ""},
      {"JunkAfterTheSize", "5 x\r\nhello\r\n", "", K::ckError, httperr::MalformedResponse, ""},
      {"Overflow", "10000000000000000\r\n", "", K::ckError, httperr::MalformedResponse, ""},
      {"LargestSizeIsNoOverflow", "7fffffffffffffff\r\nabc", "abc", K::ckNeedMore, 0, ""},
      {"DataLongerThanItsSize", "3\r\nabcd\r\n0\r\n\r\n", "abc", K::ckError, httperr::MalformedResponse, ""},
      {"OverlongSizeLine", "5;" + std::string(THttpChunkDecoder::kMaxLineLength, 'e') + "\r\nhello\r\n", "",
       K::ckError, httperr::LineTooLong, ""},
      {"OverlongLineWithoutEnd", std::string(THttpChunkDecoder::kMaxLineLength + 1, '0'), "", K::ckError,
       httperr::LineTooLong, ""},
      {"OversizeTrailer",
       [] {
         std::string body = "1\r\nx\r\n0\r\n";
         while (body.size() < THttpChunkDecoder::kMaxTrailerBytes + 100)
           body += "X-Pad: " + std::string(100, 'p') + "\r\n";
         return body + "\r\n";
       }(),
       "x", K::ckError, httperr::HeaderTooLarge, ""},
  };
  for (const Case &c : cases) {
    for (const std::size_t piece :
         {std::size_t{1}, std::size_t{2}, std::size_t{3}, std::size_t{7}, c.body.size()}) {
      SCOPED_TRACE(std::string(c.name) + ", pieces of " + std::to_string(piece));
      const Outcome outcome = Decode(c.body, piece);
      EXPECT_EQ(outcome.payload, c.payload);
      EXPECT_EQ(outcome.last, c.last);
      EXPECT_EQ(outcome.error, c.error);
      EXPECT_EQ(outcome.after, c.after);
    }
  }
}

TEST(HttpChunkDecoder, AfterAnErrorNothingMoreComesOut) {
  THttpChunkDecoder decoder;
  std::string_view input = "zz\r\n5\r\nhello\r\n";
  EXPECT_EQ(decoder.Next(input).Kind, THttpChunkDecoder::ckError);
  EXPECT_EQ(decoder.ErrorText(), "Malformed chunk size");
  std::string_view more = "5\r\nhello\r\n";
  EXPECT_EQ(decoder.Next(more).Kind, THttpChunkDecoder::ckError);
  decoder.Reset();
  EXPECT_EQ(decoder.Next(more).Payload, "hello");
}

} // namespace
} // namespace velmora
