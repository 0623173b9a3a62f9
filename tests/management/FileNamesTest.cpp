#include "management/FileNames.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(FileNamesTest, NamesFromServersBecomeSafeFileNames) {
  const std::string longStem(300, 'x');
  struct Case {
    std::string name;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"report.pdf", "report.pdf"},
      {"a/b", "a_b"},
      {"bell\a\r\ntab\t.txt", "belltab.txt"},
      {".", "index.html"},
      {"..", "index.html"},
      {"", "index.html"},
      {"\x01\x02", "index.html"},
      {".hidden", ".hidden"},
      {longStem + ".tar.gz", std::string(237, 'x') + ".gz"},
      {longStem, std::string(240, 'x')},
  };
  for (const Case &c : cases)
    EXPECT_EQ(CleanFileName(c.name), c.expected) << c.name;
}

TEST(FileNamesTest, ACutNeverSplitsACharacter) {
  std::string name;
  for (int i = 0; i < 100; ++i)
    name += "\xC3\xA4"; // ä, two bytes each
  name = "x" + name + ".txt";
  const std::string cleaned = CleanFileName(name);
  EXPECT_LE(cleaned.size(), kMaxDerivedNameBytes);
  EXPECT_TRUE(cleaned.ends_with(".txt"));
  const std::string stem = cleaned.substr(1, cleaned.size() - 5);
  EXPECT_EQ(stem.size() % 2, 0u) << "a whole number of two-byte characters";
}

TEST(FileNamesTest, AddressesGiveTheirDecodedFileName) {
  EXPECT_EQ(FileNameFromUrl(TUrl("http://h/dir/my%20file%2Ebin?x=1")), "my file%2Ebin");
  EXPECT_EQ(FileNameFromUrl(TUrl("ftp://h/dir/")), "index.html");
  EXPECT_EQ(WithTrailingSlash("/data//"), "/data/");
  EXPECT_EQ(WithTrailingSlash("/"), "/");
  EXPECT_EQ(WithTrailingSlash(""), "");
}

} // namespace
} // namespace velmora
