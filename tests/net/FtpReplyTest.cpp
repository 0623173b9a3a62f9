#include "net/FtpReply.h"

#include <gtest/gtest.h>

#include <vector>

namespace velmora {
namespace {

// Feeds the bytes one at a time, so every line end falls on a feed boundary somewhere, and returns
// the lines as "code final text".
std::vector<std::string> LinesOf(const std::string &bytes, TFtpReplyReader &reader) {
  std::vector<std::string> lines;
  for (char c : bytes) {
    reader.Feed(std::string_view(&c, 1));
    while (auto line = reader.Next())
      lines.push_back(std::to_string(line->Code) + (line->Final ? " F " : " - ") + line->Text);
  }
  return lines;
}

TEST(FtpReplyReader, GroupsMultiLineRepliesByTheStandard) {
  TFtpReplyReader reader;
  EXPECT_EQ(LinesOf("text before\r\n230-Hello\r\n230 \r\n 230 x\r\n230-y\r\n230 end\r\n213 5\n", reader),
            (std::vector<std::string>{"0 - text before", "230 - 230-Hello", "230 F 230 ", "0 -  230 x",
                                      "230 - 230-y", "230 F 230 end", "213 F 213 5"}));
  EXPECT_EQ(reader.Error(), TFtpReplyReader::frNone);
}

TEST(FtpReplyReader, WithoutAcceptLFOnlyCrLfEndsALine) {
  TFtpReplyReader reader(false);
  EXPECT_EQ(LinesOf("220 a\nstill\r\n", reader), (std::vector<std::string>{"220 F 220 a\nstill"}));
}

TEST(FtpReplyReader, BoundsAndMalformedCodesAreErrors) {
  const std::pair<std::string, TFtpReplyReader::TError> cases[] = {
      {std::string(4096, 'a'), TFtpReplyReader::frLineTooLong},
      {std::string(5000, 'a') + "\r\n", TFtpReplyReader::frLineTooLong},
      {"099 low\r\n", TFtpReplyReader::frMalformedReply},
      {"600 high\r\n", TFtpReplyReader::frMalformedReply},
      {"2200 long code\r\n", TFtpReplyReader::frMalformedReply},
      {"22 short\r\n", TFtpReplyReader::frMalformedReply},
  };
  for (const auto &[bytes, error] : cases) {
    TFtpReplyReader reader;
    reader.Feed(bytes);
    EXPECT_FALSE(reader.Next()) << bytes.substr(0, 20);
    EXPECT_EQ(reader.Error(), error) << bytes.substr(0, 20);
  }
  TFtpReplyReader reader;
  std::string lines = "220-start\r\n";
  while (lines.size() <= 2 * TFtpReplyReader::kMaxReplyBytes)
    lines += "220-" + std::string(100, 'x') + "\r\n";
  LinesOf(lines, reader);
  EXPECT_EQ(reader.Error(), TFtpReplyReader::frReplyTooLong);
}

TEST(FtpReplyParsing, NumbersOfSizePassiveAndExtendedPassiveReplies) {
  EXPECT_EQ(ParseSizeReply("213 0"), 0);
  EXPECT_EQ(ParseSizeReply("213 9223372036854775807"), INT64_MAX);
  for (const char *bad : {"213 9223372036854775808", "213", "213 ", "213 -5", "213 12abc", "21312"})
    EXPECT_FALSE(ParseSizeReply(bad)) << bad;

  EXPECT_EQ(ParsePasvPort("227 Entering Passive Mode (10,0,0,1,19,137)."), 5001);
  EXPECT_EQ(ParsePasvPort("227 Entering Passive Mode 10,0,0,1,19,137"), 5001);
  for (const char *bad : {"227 (10,0,0,1,256,1)", "227 (10,0,0,1,0,0)", "227 (10,0,0,1,19)", "227 nothing",
                          "227 (1000,0,0,1,1,1)"})
    EXPECT_FALSE(ParsePasvPort(bad)) << bad;

  EXPECT_EQ(ParseEpsvPort("229 Entering Extended Passive Mode (|||6446|)"), 6446);
  EXPECT_EQ(ParseEpsvPort("229 ok (!!!21!)"), 21);
  for (const char *bad : {"229 (|||0|)", "229 (|||65536|)", "229 (||6446|)", "229 (|||6446)", "229 (|"})
    EXPECT_FALSE(ParseEpsvPort(bad)) << bad;

  EXPECT_EQ(ParseStatusCode(" \t230 ok"), 230);
  EXPECT_EQ(ParseStatusCode("-5"), -5);
  EXPECT_EQ(ParseStatusCode("99999999999"), 0);
  EXPECT_FALSE(IsSafeCommandText(std::string("RETR a\0b", 8)));
  EXPECT_FALSE(IsSafeCommandText("RETR a\rDELE b"));
  EXPECT_TRUE(IsSafeCommandText("RETR a b"));
}

} // namespace
} // namespace velmora
