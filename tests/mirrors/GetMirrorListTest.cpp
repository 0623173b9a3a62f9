#include "mirrors/GetMirrorList.h"
#include "support/ExpectReports.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>
#include <string>
#include <vector>

using velmora::GetMirrorsFromText;
using velmora::TMirrorList;
using velmora::testing::TempDir;
using velmora::testing::WriteWholeFile;

namespace {

std::vector<std::string> addressesOf(const TMirrorList &list) {
  std::vector<std::string> addresses;
  for (const auto &mirror : list.Items())
    addresses.push_back(mirror->Url.Url);
  return addresses;
}

struct LookupCase {
  const char *name;
  std::string list;
  std::string url;
  std::vector<std::string> expected;
};

const std::vector<LookupCase> kLookupCases = {
    {"every server of the group, in file order",
     "d1,d2,g1,http://p1.example/pub/\r\n"
     "d1,d2,g2,http://other.example/\r\n"
     "d1,d2,g1,ftp://p2.example/mirror/pub/\r\n",
     "http://p1.example/pub/tools/x.zip",
     {"http://p1.example/pub/tools/x.zip", "ftp://p2.example/mirror/pub/tools/x.zip"}},
    {"the group's servers after the matching line count too",
     "a,b,g1,http://p2.example/\na,b,g1,http://p1.example/\n",
     "http://p1.example/f.zip",
     {"http://p2.example/f.zip", "http://p1.example/f.zip"}},
    {"no prefix matches",
     "a,b,g1,http://p1.example/\na,b,g1,http://p2.example/\n",
     "http://p3.example/f.zip",
     {}},
    {"a prefix in the middle of the address does not match",
     "a,b,g1,http://p1.example/\na,b,g1,http://p2.example/\n",
     "http://q.example/get?from=http://p1.example/f",
     {}},
    {"the last matching line picks the group",
     "a,b,g1,http://p.example/\na,b,g1,http://g1.example/\n"
     "a,b,g2,http://p.example/pub/\na,b,g2,http://g2.example/\n",
     "http://p.example/pub/f.zip",
     {"http://p.example/pub/f.zip", "http://g2.example/f.zip"}},
    {"a later, shorter match also wins and sets the remainder",
     "a,b,g2,http://p.example/pub/\na,b,g2,http://g2.example/\n"
     "a,b,g1,http://p.example/\na,b,g1,http://g1.example/\n",
     "http://p.example/pub/f.zip",
     {"http://p.example/pub/f.zip", "http://g1.example/pub/f.zip"}},
    {"comments only where // starts the line",
     "// a,b,g1,http://p.example/\n  // a,b,g1,http://p.example/\na,b,g1,http://q.example/\n",
     "http://p.example/x",
     {"http://p.example/x", "http://q.example/x"}},
    {"a commented entry is no member",
     "//a,b,g1,http://c.example/\na,b,g1,http://p.example/\n",
     "http://p.example/f",
     {"http://p.example/f"}},
    {"blank lines and lines of blanks are skipped, all line ends work",
     "\r\n   \r\t\na,b,g1,http://p1.example/\r\r\na,b,g1,http://p2.example/",
     "http://p1.example/f",
     {"http://p1.example/f", "http://p2.example/f"}},
    {"a prefix with a trailing blank needs that blank",
     "a,b,g1,http://p.example/pub \na,b,g1,http://q.example/\n",
     "http://p.example/pub/f.zip",
     {}},
    {"the trailing blank matches where the address has it",
     "a,b,g1,http://p.example/pub \na,b,g1,http://q.example/\n",
     "http://p.example/pub f.zip",
     {"http://p.example/pub f.zip", "http://q.example/f.zip"}},
    {"group names are case-sensitive",
     "a,b,g1,http://p.example/\na,b,G1,http://q.example/\n",
     "http://p.example/f",
     {"http://p.example/f"}},
    {"the prefix keeps its commas",
     "a,b,g1,http://p.example/a,b/\na,b,g1,http://q.example/\n",
     "http://p.example/a,b/f",
     {"http://p.example/a,b/f", "http://q.example/f"}},
    {"prefixes compare case-sensitively",
     "a,b,g1,http://P.example/\na,b,g1,http://q.example/\n",
     "http://p.example/f",
     {}},
    {"a line without commas belongs to no group",
     "http://p.example/\na,b,g1,http://q.example/\n",
     "http://p.example/f",
     {}},
    {"an address equal to a prefix maps onto the bare prefixes",
     "a,b,g1,http://p.example/f\na,b,g1,http://q.example/g\n",
     "http://p.example/f",
     {"http://p.example/f", "http://q.example/g"}},
    {"a byte order mark does not hide the first comment",
     "\xEF\xBB\xBF// a,b,g1,http://p.example/\na,b,g1,http://q.example/\n",
     "http://p.example/f",
     {}},
    {"an empty list", "", "http://p.example/f", {}},
};

TEST(GetMirrorList, LookupFollowsTheListsRules) {
  for (const LookupCase &c : kLookupCases)
    EXPECT_EQ(addressesOf(GetMirrorsFromText(c.list, c.url)), c.expected) << c.name;
}

TEST(GetMirrorList, EntriesSplitAtTheFirstThreeCommas) {
  const struct {
    const char *line;
    const char *first, *second, *group, *prefix;
  } cases[] = {
      {"one,two,grp,http://h/p", "one", "two", "grp", "http://h/p"},
      {" one , two , grp , http://h/ ", " one ", " two ", " grp ", " http://h/ "},
      {"http://h/p", "", "", "", "http://h/p"},
      {"one,http://h/p", "one", "", "", "http://h/p"},
      {"one,two,http://h/p", "one", "two", "", "http://h/p"},
      {",,,", "", "", "", ""},
      {"a,b,c,d,e,f", "a", "b", "c", "d,e,f"},
  };
  for (const auto &c : cases) {
    std::string group;
    const velmora::TMirrorServer server = velmora::ParseMirrorEntry(c.line, group);
    EXPECT_EQ(server.FirstDescription, c.first) << c.line;
    EXPECT_EQ(server.SecondDescription, c.second) << c.line;
    EXPECT_EQ(group, c.group) << c.line;
    EXPECT_EQ(server.AddressPrefix, c.prefix) << c.line;
  }
}

TEST(GetMirrorList, GroupsKeepTheOrderOfFirstAppearance) {
  velmora::TMirrorGroupLists groups;
  for (const char *name : {"b", "a", "b", "c", "a"})
    groups.AddMirrorServer(std::make_unique<velmora::TMirrorServer>(), name);
  std::vector<std::pair<std::string, std::size_t>> seen;
  for (const auto &group : groups.Groups())
    seen.emplace_back(group->Name, group->Servers.size());
  EXPECT_EQ(seen, (std::vector<std::pair<std::string, std::size_t>>{{"b", 2}, {"a", 2}, {"c", 1}}));
}

TEST(GetMirrorList, TheFileIsReadForEveryLookupAndAMissingOneGivesNothing) {
  const velmora::testing::ExpectReports expected; // a missing list is reported
  TempDir folder;
  velmora::TLocalMirrorList local(folder.file("mirrors.lst"));
  EXPECT_EQ(local.GetMirrors("http://p.example/f").Count(), 0);
  WriteWholeFile(folder.file("mirrors.lst"), "a,b,g,http://p.example/\na,b,g,http://q.example/\n");
  EXPECT_EQ(addressesOf(local.GetMirrors("http://p.example/f")),
            (std::vector<std::string>{"http://p.example/f", "http://q.example/f"}));
  WriteWholeFile(folder.file("mirrors.lst"), "a,b,g,http://p.example/\n");
  EXPECT_EQ(local.GetMirrors("http://p.example/f").Count(), 1) << "an edited list applies at once";
}

TEST(GetMirrorList, TheShippedListIsWellFormed) {
  const std::string shipped =
      velmora::testing::ReadWholeFile(std::string(VELMORA_SOURCE_DIR) + "/data/mirrors.lst");
  ASSERT_FALSE(shipped.empty());
  std::map<std::string, std::set<std::string>> groups;
  std::size_t start = 0;
  while (start < shipped.size()) {
    const std::size_t end = std::min(shipped.find('\n', start), shipped.size());
    const std::string line = shipped.substr(start, end - start);
    start = end + 1;
    if (line.empty() || line.rfind("//", 0) == 0)
      continue;
    std::string group;
    const velmora::TMirrorServer server = velmora::ParseMirrorEntry(line, group);
    EXPECT_FALSE(group.empty()) << line;
    EXPECT_TRUE(server.AddressPrefix.rfind("http://", 0) == 0 || server.AddressPrefix.rfind("ftp://", 0) == 0)
        << line;
    EXPECT_EQ(server.AddressPrefix.back(), '/') << line;
    EXPECT_EQ(server.AddressPrefix.find(' '), std::string::npos) << line;
    EXPECT_TRUE(groups[group].insert(server.AddressPrefix).second) << "listed twice: " << line;
  }
  for (const char *expected : {"debian", "debian-security", "debian-cd", "kernel", "gnu"})
    EXPECT_GE(groups[expected].size(), 2u) << expected;

  const TMirrorList found =
      GetMirrorsFromText(shipped, "http://ftp.de.debian.org/debian/pool/main/h/hello/x.deb");
  EXPECT_EQ(found.Count(), static_cast<int32_t>(groups["debian"].size()));
  EXPECT_NE(found.GetMirror("http://deb.debian.org/debian/pool/main/h/hello/x.deb"), nullptr);
}

} // namespace
