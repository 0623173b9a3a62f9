#include "mirrors/StatisticsPages.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>

using velmora::KilobytesPerSecondText;
using velmora::TServer;
using velmora::testing::TempDir;
using velmora::testing::WriteWholeFile;

namespace {

// The page as python's html.parser reads it (see check_statistics_page.py).
std::string parsedPage(const std::string &page) {
  TempDir folder;
  WriteWholeFile(folder.file("page.html"), page);
  const std::string command = "/usr/bin/python3 " + std::string(VELMORA_SOURCE_DIR) +
                              "/tests/mirrors/check_statistics_page.py '" + folder.file("page.html") +
                              "' 2>&1";
  std::unique_ptr<FILE, int (*)(FILE *)> pipe(popen(command.c_str(), "r"), pclose);
  if (!pipe)
    return "cannot start /usr/bin/python3";
  std::string output;
  std::array<char, 4096> chunk{};
  while (const std::size_t read = fread(chunk.data(), 1, chunk.size(), pipe.get()))
    output.append(chunk.data(), read);
  return output;
}

const std::string kHostile = "<script>alert(1)</script>&\"x\".org";

// Given in an order that neither page shows, so both must sort.
const std::vector<TServer> kServers = {
    {"fast.example.com", 12, 3, 45678, 2},
    {"slow.example.net", 250, 1, 0, 0},
    {kHostile, 0, 1, 1500000, 1},
    {"tie.example.com", 12, 1, 99, 1},
};
const std::vector<TServer> kTopDomains = {
    {"com", 12, 4, 45000, 3},
    {"net", 250, 1, 0, 0},
    {"org", 0, 1, 1500000, 1},
};

TEST(StatisticsPages, RatesShowAsKilobytesWithOneDecimalCutOff) {
  const struct {
    int64_t speed;
    const char *decimalPoint;
    const char *expected;
  } cases[] = {
      {45678, ".", "45.6"}, {45000, ".", "45"}, {45678, ",", "45,6"}, {0, ".", "N/A"},
      {99, ".", "0"},       {150, ".", "0.1"},  {1099, ".", "1"},     {3000000000, ".", "3000000"},
      {1, ".", "0"},        {1050, ".", "1"},
  };
  for (const auto &c : cases)
    EXPECT_EQ(KilobytesPerSecondText(c.speed, c.decimalPoint), c.expected) << c.speed;
}

// One data row as the checker prints it; font cells carry the page's data font.
std::string row(const std::string &color, const std::vector<std::string> &cells, bool font = true) {
  std::string line = "row " + color;
  for (const std::string &cell : cells)
    line += std::string(" | ") + (font ? "font(2 #000000 verdana,arial) " : "") + "[" + cell + "]";
  return line;
}

std::string header(const std::vector<std::string> &cells) {
  std::string line = "row #cccccc";
  for (const std::string &cell : cells)
    line += " | " + cell;
  return line;
}

std::string lines(const std::vector<std::string> &all) {
  std::string joined;
  for (const std::string &line : all)
    joined += line + "\n";
  return joined;
}

const std::string kPageStart = "doctype DOCTYPE html\ncharset utf-8\ntitle Server Statistics\n";
const std::string kTable = "table width=95% border=0 cellspacing=0 cellpadding=0";

TEST(StatisticsPages, ThePingPageListsBothTablesByAscendingPing) {
  EXPECT_EQ(
      parsedPage(velmora::PingStatisticsPage(kServers, kTopDomains, "StatisticsSpeed.html", ".")),
      kPageStart +
          lines({
              kTable,
              header({"bold [Server]", "bold [Average Ping [ms]]",
                      "bold link(StatisticsSpeed.html) [Average Download Speed per Connection [kB/s]]"}),
              row("-", {kHostile, "N/A", "1500"}),
              row("#eeeeee", {"fast.example.com", "12", "45.6"}),
              row("-", {"tie.example.com", "12", "0"}),
              row("#eeeeee", {"slow.example.net", "250", "N/A"}),
              "anchor section2",
              kTable,
              header(
                  {"bold [Top Domain]", "bold [Average Ping [ms]]",
                   "bold link(StatisticsSpeed.html#section2) [Average Download Speed per Connection[kB/s]]"}),
              row("-", {".org", "N/A", "1500"}),
              row("#eeeeee", {".com", "12", "45"}),
              row("-", {".net", "250", "N/A"}),
          }));
}

TEST(StatisticsPages, TheSpeedPageListsBothTablesByDescendingSpeed) {
  EXPECT_EQ(parsedPage(velmora::SpeedStatisticsPage(kServers, kTopDomains, "StatisticsPing.html", ",")),
            kPageStart + lines({
                             kTable,
                             header({"bold [Server]", "bold link(StatisticsPing.html) [Average Ping [ms]]",
                                     "bold [Average Download Speed [kB/s]]"}),
                             row("-", {kHostile, "N/A", "1500"}),
                             row("#eeeeee", {"fast.example.com", "12", "45,6"}),
                             row("-", {"tie.example.com", "12", "0"}),
                             row("#eeeeee", {"slow.example.net", "250", "N/A"}),
                             "anchor section2",
                             kTable,
                             header({"bold [Top Domain]",
                                     "bold link(StatisticsPing.html#section2) [Average Ping [ms]]",
                                     "bold [Average Download Speed [kB/s]]"}),
                             row("-", {".org", "N/A", "1500"}, false),
                             row("#eeeeee", {".com", "12", "45"}, false),
                             row("-", {".net", "250", "N/A"}, false),
                         }));
}

TEST(StatisticsPages, EmptyStatisticsStillMakeWellFormedPages) {
  const std::string parsed = parsedPage(velmora::PingStatisticsPage({}, {}, "StatisticsSpeed.html", "."));
  EXPECT_EQ(parsed.find("error"), std::string::npos) << parsed;
  EXPECT_NE(parsed.find("anchor section2"), std::string::npos) << parsed;
}

TEST(StatisticsPages, LinkTargetsAreEscapedToo) {
  const std::string page = velmora::PingStatisticsPage({}, {}, "a\"b&c.html", ".");
  EXPECT_NE(page.find("href=\"a&quot;b&amp;c.html\""), std::string::npos);
}

} // namespace
