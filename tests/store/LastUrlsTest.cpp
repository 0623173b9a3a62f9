#include "store/LastUrls.h"

#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

namespace velmora {
namespace {

using testing::ReadWholeFile;
using testing::TempDir;
using testing::WriteWholeFile;
using Urls = std::vector<std::string>;

Urls Numbered(int from, int to) {
  Urls urls;
  for (int i = from; i <= to; ++i)
    urls.push_back("http://h/" + std::to_string(i));
  return urls;
}

TEST(LastUrls, AddingFollowsTheHistoryRules) {
  struct TCase {
    const char *what;
    Urls history;
    std::string typed;
    Urls expected;
  };
  const TCase cases[] = {
      {"first address", {}, "http://a/x", {"http://a/x"}},
      {"appended at the end", {"http://a/x"}, "ftp://b/y", {"http://a/x", "ftp://b/y"}},
      {"a tenth drops the oldest", Numbered(1, 9), "http://h/10", Numbered(2, 10)},
      {"known with other capitals", {"http://Host/File"}, "HTTP://host/file", {"http://Host/File"}},
      {"blanks trimmed", {}, "  http://a/x\t", {"http://a/x"}},
      {"trimmed, then known", {"http://a/x"}, " http://a/x ", {"http://a/x"}},
      {"empty text", {"http://a/x"}, "", {"http://a/x"}},
      {"only blanks", {"http://a/x"}, "   ", {"http://a/x"}},
      {"a line break would add a line", {}, "http://a/x\nhttp://evil/", {}},
  };
  for (const TCase &c : cases)
    EXPECT_EQ(WithLastUrl(c.history, c.typed), c.expected) << c.what;
}

TEST(LastUrls, ReadingKeepsTheNewestCleanLines) {
  struct TCase {
    const char *what;
    std::string text;
    Urls expected;
  };
  std::string twelve;
  for (const std::string &url : Numbered(1, 12))
    twelve += url + "\n";
  const TCase cases[] = {
      {"LF and CR LF, last line unterminated",
       "http://a/1\r\nhttp://a/2\nhttp://a/3",
       {"http://a/1", "http://a/2", "http://a/3"}},
      {"empty lines dropped", "\n\nhttp://a/1\n\r\n", {"http://a/1"}},
      {"control characters dropped",
       std::string("http://a/\x01\nhttp://a/\0x\nhttp://a/ok\n", 35),
       {"http://a/ok"}},
      {"at most nine, the newest", twelve, Numbered(4, 12)},
  };
  for (const TCase &c : cases)
    EXPECT_EQ(ParseLastUrls(c.text), c.expected) << c.what;
}

TEST(LastUrls, TheFileIsCreatedAddedToAndLeftAloneWhenNothingChanges) {
  TempDir dir;
  const std::string path = dir.file("LastURLs");
  ASSERT_TRUE(AddLastUrl(path, ""));
  EXPECT_FALSE(std::filesystem::exists(path)) << "an empty text creates nothing";
  ASSERT_TRUE(AddLastUrl(path, "http://a/x"));
  EXPECT_EQ(ReadWholeFile(path), "http://a/x\n");
  ASSERT_TRUE(AddLastUrl(path, "ftp://b/y"));
  ASSERT_TRUE(AddLastUrl(path, "HTTP://A/X"));
  EXPECT_EQ(ReadWholeFile(path), "http://a/x\nftp://b/y\n");
  Urls loaded;
  ASSERT_TRUE(LoadLastUrls(path, loaded));
  EXPECT_EQ(loaded, (Urls{"http://a/x", "ftp://b/y"}));

  ASSERT_TRUE(LoadLastUrls(dir.file("missing"), loaded));
  EXPECT_TRUE(loaded.empty());
  const std::string folder = dir.file("a folder");
  std::filesystem::create_directory(folder);
  EXPECT_FALSE(AddLastUrl(folder, "http://a/x")) << "unreadable: left as it is";
  EXPECT_TRUE(std::filesystem::is_directory(folder));
}

TEST(LastUrls, AHugeFileIsReadOnlyAsFarAsTheLimit) {
  TempDir dir;
  const std::string path = dir.file("LastURLs");
  std::string text;
  for (int i = 0; text.size() <= kLastUrlsReadLimit; ++i)
    text += "http://h/" + std::to_string(i) + "/" + std::string(1000, 'p') + "\n";
  const std::string pastTheLimit = text.substr(0, kLastUrlsReadLimit + 5);
  WriteWholeFile(path, pastTheLimit + "\n" + std::string(1 << 20, 'x'));
  Urls loaded;
  ASSERT_TRUE(LoadLastUrls(path, loaded));
  ASSERT_EQ(loaded.size(), kMaxLastUrls);
  // The line the limit cuts is not taken as an address.
  const Urls whole = ParseLastUrls(text.substr(0, text.rfind('\n', kLastUrlsReadLimit - 1)));
  EXPECT_EQ(loaded, whole);
}

} // namespace
} // namespace velmora
