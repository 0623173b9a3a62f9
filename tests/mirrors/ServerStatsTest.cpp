#include "mirrors/ServerStats.h"
#include "support/ExpectReports.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

using velmora::TFileMirror;
using velmora::TMirrorList;
using velmora::TServer;
using velmora::TServerStats;
using velmora::testing::ReadWholeFile;
using velmora::testing::TempDir;
using velmora::testing::WriteWholeFile;

namespace velmora {
void PrintTo(const TServer &record, std::ostream *out) {
  *out << "{" << record.Name << " " << record.AveragePing << " " << record.PingCount << " "
       << record.AverageSpeed << " " << record.SpeedCount << "}";
}
} // namespace velmora

namespace {

class ServerStatsTest : public ::testing::Test {
protected:
  velmora::TServerStatsFiles files() const {
    return {folder.file("serverstats.txt"), folder.file("StatisticsPing.html"),
            folder.file("StatisticsSpeed.html")};
  }
  bool exists(const std::string &name) const { return std::filesystem::exists(folder.file(name)); }
  std::string statsFile() const { return ReadWholeFile(folder.file("serverstats.txt")); }
  TServerStats loadedFrom(const std::string &contents) const {
    WriteWholeFile(folder.file("serverstats.txt"), contents);
    TServerStats loaded(files());
    loaded.Load();
    return loaded;
  }

  TempDir folder;
  TServerStats stats{files()};
};

std::vector<std::string> namesOf(const std::vector<TServer> &records) {
  std::vector<std::string> names;
  names.reserve(records.size());
  for (const TServer &record : records)
    names.push_back(record.Name);
  return names;
}

TEST(ServerStatsRounding, HalvesGoToTheEvenNeighbour) {
  const struct {
    int64_t numerator, denominator, expected;
  } cases[] = {
      {301, 2, 150}, {303, 2, 152}, {5, 2, 2}, {7, 2, 4},    {10, 3, 3},   {11, 3, 4},
      {0, 1, 0},     {1, 2, 0},     {3, 2, 2}, {250, 4, 62}, {251, 4, 63}, {9, 6, 2},
  };
  for (const auto &c : cases)
    EXPECT_EQ(velmora::DivideRoundingHalfToEven(c.numerator, c.denominator), c.expected)
        << c.numerator << "/" << c.denominator;
}

TEST(ServerStatsNames, AreLowerCaseWithControlCharactersEncoded) {
  const struct {
    const char *host, *name, *topDomain;
  } cases[] = {
      {"Mirror.Example.ORG", "mirror.example.org", "org"},
      {"10.0.0.7", "10.0.0.7", "7"},
      {"localhost", "localhost", ""},
      {"evil\thost\r\n.com", "evil%09host%0d%0a.com", "com"},
      {"trailing.dot.", "trailing.dot.", ""},
      // Servers named with their port belong to the domain of their host.
      {"Mirror.Example.ORG:443", "mirror.example.org:443", "org"},
      {"10.0.0.7:8443", "10.0.0.7:8443", "7"},
      {"[::1]:8443", "[::1]:8443", ""},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(velmora::StatisticsName(c.host), c.name);
    EXPECT_EQ(velmora::TopDomainOf(velmora::StatisticsName(c.host)), c.topDomain) << c.host;
  }
}

TEST_F(ServerStatsTest, PingSamplesAverageWithHalvesToEven) {
  stats.AddPing("new.example.com", 100);
  EXPECT_EQ(stats.Servers(), (std::vector<TServer>{{"new.example.com", 100, 1, 0, 0}}));
  stats.AddPing("NEW.example.COM", 201);
  EXPECT_EQ(stats.Servers(), (std::vector<TServer>{{"new.example.com", 150, 2, 0, 0}}));
  EXPECT_EQ(stats.TopDomains(), (std::vector<TServer>{{"com", 150, 2, 0, 0}}));
}

TEST_F(ServerStatsTest, PingsOutsideTheMeasurableRangeChangeNothing) {
  for (int32_t ping : {9999, -1, 10000, -9999})
    stats.AddPing("host.example.com", ping);
  EXPECT_TRUE(stats.Servers().empty());
  EXPECT_FALSE(exists("serverstats.txt")) << "a rejected sample does not rewrite the file";
  stats.AddPing("host.example.com", 0);
  stats.AddPing("host.example.com", 9998);
  EXPECT_EQ(stats.Servers(), (std::vector<TServer>{{"host.example.com", 4999, 2, 0, 0}}));
}

TEST_F(ServerStatsTest, RecordsStayInAscendingPingOrderWithTiesAfterwards) {
  stats.AddPing("a.example.com", 50);
  stats.AddPing("b.example.net", 20);
  stats.AddPing("c.example.org", 50); // equal average: after a
  stats.AddPing("d.example.com", 80);
  EXPECT_EQ(namesOf(stats.Servers()),
            (std::vector<std::string>{"b.example.net", "a.example.com", "c.example.org", "d.example.com"}));
  stats.AddPing("b.example.net", 180); // average 100: moves behind d
  EXPECT_EQ(namesOf(stats.Servers()),
            (std::vector<std::string>{"a.example.com", "c.example.org", "d.example.com", "b.example.net"}));
  stats.AddPing("d.example.com", 20); // average 50: behind the other 50s
  EXPECT_EQ(namesOf(stats.Servers()),
            (std::vector<std::string>{"a.example.com", "c.example.org", "d.example.com", "b.example.net"}));
  // com: 50, 80, 20 averages 50, behind org's 50; net: 20, 180 averages 100.
  EXPECT_EQ(namesOf(stats.TopDomains()), (std::vector<std::string>{"org", "com", "net"}));
}

TEST_F(ServerStatsTest, AFullListTakesOnlyHostsFasterThanItsSlowest) {
  for (int i = 0; i < 100; ++i)
    stats.AddPing("h" + std::to_string(i) + ".example", i % 50);
  ASSERT_EQ(stats.Servers().size(), 100u);
  const std::string slowest = stats.Servers().back().Name;
  stats.AddPing("far.away", 300);
  EXPECT_EQ(stats.Servers().size(), 100u);
  EXPECT_EQ(stats.Servers().back().Name, slowest) << "300 would rank 101st: not recorded";
  stats.AddPing("near.by", 10);
  EXPECT_EQ(stats.Servers().size(), 100u);
  EXPECT_NE(stats.Servers().back().Name, slowest) << "the slowest record made room";
  EXPECT_EQ(stats.Servers()[22].Name, "near.by") << "after the 22 records of 0 to 10";
  EXPECT_EQ(namesOf(stats.TopDomains()), (std::vector<std::string>{"by", "example", "away"}));
}

TEST_F(ServerStatsTest, SpeedSamplesCountOnlyForKnownNamesAndKeepTheOrder) {
  stats.AddSpeed("never.pinged.com", 5000);
  EXPECT_TRUE(stats.Servers().empty());
  EXPECT_FALSE(exists("serverstats.txt"));

  stats.AddPing("a.example.com", 10);
  stats.AddPing("b.example.org", 20);
  stats.AddSpeed("A.Example.Com", 1001);
  stats.AddSpeed("a.example.com", 1002);     // 1001.5 rounds to the even 1002
  stats.AddSpeed("other.example.com", 3000); // its domain is known, the host is not
  stats.AddSpeed("b.example.org", 0);        // no speed, no sample
  EXPECT_EQ(stats.Servers(),
            (std::vector<TServer>{{"a.example.com", 10, 1, 1002, 2}, {"b.example.org", 20, 1, 0, 0}}));
  EXPECT_EQ(stats.TopDomains(), (std::vector<TServer>{{"com", 10, 1, 1668, 3}, {"org", 20, 1, 0, 0}}));
}

TEST_F(ServerStatsTest, AveragesOfFastServersDoNotOverflow) {
  TServerStats loaded = loadedFrom("1\r\nfast.example\t1\t2000000000\t3000000000\t2000000000\r\n"
                                   "example\t1\t2000000000\t3000000000\t2147483647\r\n");
  loaded.AddSpeed("fast.example", 3000000000);
  loaded.AddPing("fast.example", 1);
  EXPECT_EQ(loaded.Servers(),
            (std::vector<TServer>{{"fast.example", 1, 2000000001, 3000000000, 2000000001}}));
  EXPECT_EQ(loaded.TopDomains(), (std::vector<TServer>{{"example", 1, 2000000001, 3000000000, 2147483647}}))
      << "a count at its limit stays there";
}

TEST_F(ServerStatsTest, TheFileRoundTripsInItsExactFormat) {
  stats.AddPing("b.example.org", 40);
  stats.AddPing("a.example.com", 12);
  stats.AddSpeed("a.example.com", 45678);
  stats.AddPing("evil\thost\r\n.com", 300);
  EXPECT_EQ(statsFile(), "3\r\n"
                         "a.example.com\t12\t1\t45678\t1\r\n"
                         "b.example.org\t40\t1\t0\t0\r\n"
                         "evil%09host%0d%0a.com\t300\t1\t0\t0\r\n"
                         "org\t40\t1\t0\t0\r\n"
                         "com\t156\t2\t45678\t1\r\n");
  TServerStats reloaded(files());
  reloaded.Load();
  EXPECT_EQ(reloaded.Servers(), stats.Servers());
  EXPECT_EQ(reloaded.TopDomains(), stats.TopDomains());
}

TEST_F(ServerStatsTest, ADamagedFileLoadsWhatItCan) {
  const velmora::testing::ExpectReports expected; // each damaged file is reported
  const struct {
    const char *name;
    std::string contents;
    std::vector<std::string> servers, topDomains;
  } cases[] = {
      {"no count line", "a.example\t1\t1\t0\t0\r\n", {}, {}},
      {"an empty file", "", {}, {}},
      {"fewer server lines than announced", "5\r\na.example\t1\t1\t0\t0\r\n", {"a.example"}, {}},
      {"a non-numeric field",
       "2\r\na.example\t1\tx\t0\t0\r\nb.example\t2\t1\t0\t0\r\nexample\t2\t1\t0\t0\r\n",
       {"b.example"},
       {"example"}},
      {"a negative number", "1\r\na.example\t-1\t1\t0\t0\r\nexample\t3\t1\t0\t0\r\n", {}, {"example"}},
      {"too few fields", "1\r\na.example\t1\t1\r\nexample\t3\t1\t0\t0", {}, {"example"}},
      {"extra fields after a further TAB", "1\r\na.example\t1\t1\t0\t0\tnote\r\n", {"a.example"}, {}},
      {"LF line ends and no final line end",
       "1\na.example\t1\t1\t0\t0\nexample\t1\t1\t0\t0",
       {"a.example"},
       {"example"}},
      {"records out of order",
       "2\r\nb.example\t9\t1\t0\t0\r\na.example\t3\t1\t0\t0\r\n",
       {"a.example", "b.example"},
       {}},
      {"a count line with junk", "1x\r\na.example\t1\t1\t0\t0\r\n", {}, {}},
      {"a truncated last line", "1\r\na.example\t1\t1\t0\t0\r\nexample\t1\t1", {"a.example"}, {}},
      {"a number too large", "1\r\na.example\t99999999999\t1\t0\t0\r\n", {}, {}},
  };
  for (const auto &c : cases) {
    TServerStats loaded = loadedFrom(c.contents);
    EXPECT_EQ(namesOf(loaded.Servers()), c.servers) << c.name;
    EXPECT_EQ(namesOf(loaded.TopDomains()), c.topDomains) << c.name;
  }

  TServerStats recovered = loadedFrom("garbage\r\n\x01\x02\r\n");
  recovered.AddPing("a.example", 7);
  EXPECT_EQ(statsFile(), "1\r\na.example\t7\t1\t0\t0\r\nexample\t7\t1\t0\t0\r\n")
      << "the next sample writes a sound file";
}

TEST_F(ServerStatsTest, ALoadedFileOfMoreThanAHundredRecordsIsCutToTheFastest) {
  std::string contents = "120\r\n";
  for (int i = 119; i >= 0; --i)
    contents += "h" + std::to_string(i) + "\t" + std::to_string(i) + "\t1\t0\t0\r\n";
  TServerStats loaded = loadedFrom(contents);
  ASSERT_EQ(loaded.Servers().size(), 100u);
  EXPECT_EQ(loaded.Servers().front().Name, "h0");
  EXPECT_EQ(loaded.Servers().back().Name, "h99");
}

TEST_F(ServerStatsTest, OrderMirrorsFillsTheRememberedValuesAndSortsByThem) {
  stats.AddPing("known.example.com", 40);
  stats.AddSpeed("known.example.com", 9000);
  stats.AddPing("fast.example.net", 10);
  TMirrorList mirrors;
  for (const char *url : {"http://unknown.example.de/f", "http://other.example.com/f",
                          "ftp://KNOWN.example.com/f", "http://fast.example.net/f", "http://nowhere/f"})
    mirrors.Add(std::make_unique<TFileMirror>(url));
  stats.OrderMirrors(mirrors);

  std::vector<std::string> order;
  for (const auto &mirror : mirrors.Items())
    order.push_back(mirror->Url.Host);
  // Keys: fast 10 (host), KNOWN 40 (host), other 25 (domain com: (40 + 10) / 2 rounds to 25), rest 9999.
  EXPECT_EQ(order, (std::vector<std::string>{"fast.example.net", "other.example.com", "KNOWN.example.com",
                                             "unknown.example.de", "nowhere"}));
  const TFileMirror &known = *mirrors.Get(2);
  EXPECT_EQ(known.HostAveragePing, 40);
  EXPECT_EQ(known.HostAverageRate, 9000);
  EXPECT_EQ(known.DomainAveragePing, 40);
  EXPECT_EQ(known.DomainAverageRate, 9000);
  const TFileMirror &other = *mirrors.Get(1);
  EXPECT_EQ(other.HostAveragePing, 9999);
  EXPECT_EQ(other.HostAverageRate, 0);
  EXPECT_EQ(other.DomainAveragePing, 40);
  const TFileMirror &unknown = *mirrors.Get(3);
  EXPECT_EQ(unknown.HostAveragePing, 9999);
  EXPECT_EQ(unknown.DomainAveragePing, 9999);
  EXPECT_EQ(unknown.DomainAverageRate, 0);
}

TEST_F(ServerStatsTest, ReportWritesBothPagesLinkedByRelativeNamesAndSaves) {
  stats.AddPing("a.example.com", 12);
  std::filesystem::remove(folder.file("serverstats.txt"));
  ASSERT_TRUE(stats.Report());
  const std::string ping = ReadWholeFile(folder.file("StatisticsPing.html"));
  const std::string speed = ReadWholeFile(folder.file("StatisticsSpeed.html"));
  EXPECT_NE(ping.find("href=\"StatisticsSpeed.html\""), std::string::npos);
  EXPECT_NE(ping.find("href=\"StatisticsSpeed.html#section2\""), std::string::npos);
  EXPECT_NE(speed.find("href=\"StatisticsPing.html#section2\""), std::string::npos);
  EXPECT_EQ(ping.find(folder.path().string()), std::string::npos) << "no absolute paths in the pages";
  EXPECT_TRUE(exists("serverstats.txt"));
}

TEST_F(ServerStatsTest, ClearDeletesTheFilesAndForgetsEverything) {
  stats.AddPing("a.example.com", 12);
  ASSERT_TRUE(stats.Report());
  stats.Clear();
  EXPECT_TRUE(stats.Servers().empty());
  EXPECT_TRUE(stats.TopDomains().empty());
  for (const char *name : {"serverstats.txt", "StatisticsPing.html", "StatisticsSpeed.html"})
    EXPECT_FALSE(exists(name)) << name;
  stats.Clear(); // nothing left to delete is no error
  stats.AddPing("b.example.org", 5);
  EXPECT_EQ(statsFile(), "1\r\nb.example.org\t5\t1\t0\t0\r\norg\t5\t1\t0\t0\r\n");
}

TEST_F(ServerStatsTest, AnUnwritableFolderLosesNoSampleInMemory) {
  const velmora::testing::ExpectReports expected; // each failed save is reported
  TServerStats homeless(
      {folder.file("missing/serverstats.txt"), folder.file("missing/p.html"), folder.file("missing/s.html")});
  homeless.AddPing("a.example.com", 12);
  EXPECT_EQ(homeless.Servers().size(), 1u);
  EXPECT_FALSE(homeless.Report());
}

} // namespace
