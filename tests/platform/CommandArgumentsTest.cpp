#include "platform/CommandArguments.h"

#include <gtest/gtest.h>

using velmora::platform::SplitCommandArguments;

namespace {

TEST(CommandArguments, SplitsLikeAShellWithoutExpanding) {
  struct Case {
    std::string line;
    std::vector<std::string> arguments;
  };
  const Case cases[] = {
      {"", {}},
      {" \t ", {}},
      {"/quick", {"/quick"}},
      {"  --scan   -r\t-v ", {"--scan", "-r", "-v"}},
      {"--log '/tmp/my log.txt'", {"--log", "/tmp/my log.txt"}},
      {"--log=\"/tmp/my log\"", {"--log=/tmp/my log"}},
      {"'a'\"b\"c", {"abc"}},
      {"'' \"\"", {"", ""}},
      {"\"say \\\"hi\\\" \\\\ \\n\"", {"say \"hi\" \\ \\n"}},
      {"'no \\escape'", {"no \\escape"}},
      {"a\\ b \\'", {"a b", "'"}},
      {"$HOME ~ * $(rm -rf /) `id` ; | > &",
       {"$HOME", "~", "*", "$(rm", "-rf", "/)", "`id`", ";", "|", ">", "&"}},
      {"'unclosed quote", {"unclosed quote"}},
      {"\"unclosed", {"unclosed"}},
      {"trailing\\", {"trailing\\"}},
  };
  for (const Case &c : cases)
    EXPECT_EQ(SplitCommandArguments(c.line), c.arguments) << c.line;
}

} // namespace
