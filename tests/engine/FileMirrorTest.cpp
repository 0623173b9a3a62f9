#include "engine/FileMirror.h"
#include "support/ExpectReports.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using velmora::TFileMirror;
using velmora::TMirrorList;

namespace {

// Builds a list whose mirrors are named m0, m1, ... and carry the given ping times.
TMirrorList listWithPings(const std::vector<int32_t> &pings) {
  TMirrorList list;
  for (std::size_t i = 0; i < pings.size(); ++i) {
    auto mirror = std::make_unique<TFileMirror>("http://m" + std::to_string(i) + "/f.zip");
    mirror->PingTime = pings[i];
    list.Add(std::move(mirror));
  }
  return list;
}

std::vector<std::string> hostsOf(const TMirrorList &list) {
  std::vector<std::string> hosts;
  for (const auto &mirror : list.Items())
    hosts.push_back(mirror->Url.Host);
  return hosts;
}

TEST(FileMirror, StartsUnmeasuredWithoutErrorOrStatistics) {
  TFileMirror mirror("http://Host.example:8080/pub/file.tar.gz");
  EXPECT_EQ(mirror.Url.Url, "http://Host.example:8080/pub/file.tar.gz");
  EXPECT_EQ(mirror.Url.Host, "Host.example");
  EXPECT_EQ(mirror.PingTime, 9999);
  EXPECT_EQ(mirror.ErrorState, velmora::fmeNone);
  EXPECT_EQ(mirror.HostAverageRate, 0);
  EXPECT_EQ(mirror.DomainAverageRate, 0);
  EXPECT_EQ(mirror.HostAveragePing, 0);
  EXPECT_EQ(mirror.DomainAveragePing, 0);
}

TEST(MirrorList, ErrorValuesKeepTheirOrder) {
  EXPECT_EQ(velmora::fmeNone, 0);
  EXPECT_EQ(velmora::fmeConnectionLost, 1);
  EXPECT_EQ(velmora::fmeCouldntConnect, 2);
  EXPECT_EQ(velmora::fmeLoginFailed, 3);
  EXPECT_EQ(velmora::fmeFileNotFound, 4);
  EXPECT_EQ(velmora::fmeResumeNotSupported, 5);
  EXPECT_EQ(velmora::fmeSizeMismatch, 6);
}

TEST(MirrorList, InsertSortedPutsTheNewcomerBeforeEqualPings) {
  struct Case {
    std::vector<int32_t> listed;
    int32_t inserted;
    int32_t expectedIndex;
    std::vector<std::string> expectedOrder; // "new" marks the inserted mirror
  };
  const std::vector<Case> cases = {
      {{40, 120, 9999}, 120, 1, {"m0", "new", "m1", "m2"}},
      {{40, 120, 9999}, 9999, 2, {"m0", "m1", "new", "m2"}},
      {{40, 120}, 500, 2, {"m0", "m1", "new"}},
      {{}, 70, 0, {"new"}},
      {{40, 120}, 5, 0, {"new", "m0", "m1"}},
      {{9999, 9999}, 9999, 0, {"new", "m0", "m1"}},
  };
  for (const Case &c : cases) {
    TMirrorList list = listWithPings(c.listed);
    auto mirror = std::make_unique<TFileMirror>("http://new/f.zip");
    mirror->PingTime = c.inserted;
    EXPECT_EQ(list.InsertSorted(std::move(mirror)), c.expectedIndex) << "inserting " << c.inserted;
    EXPECT_EQ(hostsOf(list), c.expectedOrder) << "inserting " << c.inserted;
  }
}

TEST(MirrorList, ReSortingAPingedMirrorMovesItToItsPlace) {
  // What the downloader does with each ping report: take the mirror out, put it back by ping.
  TMirrorList list = listWithPings({40, 9999, 9999, 9999});
  TFileMirror *pinged = list.Get(3);
  pinged->PingTime = 25;
  EXPECT_EQ(list.InsertSorted(list.Extract(pinged)), 0);
  EXPECT_EQ(hostsOf(list), (std::vector<std::string>{"m3", "m0", "m1", "m2"}));
  EXPECT_EQ(list.IndexOf(pinged), 0);
}

TEST(MirrorList, GetMirrorMatchesTheAddressTextExactly) {
  TMirrorList list;
  list.Add(std::make_unique<TFileMirror>("http://a.example/pub/File.zip"));
  TFileMirror *second = list.Add(std::make_unique<TFileMirror>("http://b.example/pub/File.zip"));
  list.Add(std::make_unique<TFileMirror>("http://b.example/pub/File.zip"));
  EXPECT_EQ(list.GetMirror("http://b.example/pub/File.zip"), second) << "the first of equal addresses";
  EXPECT_EQ(list.GetMirror("http://b.example/pub/file.zip"), nullptr);
  EXPECT_EQ(list.GetMirror("HTTP://b.example/pub/File.zip"), nullptr);
  EXPECT_EQ(list.GetMirror("http://b.example:80/pub/File.zip"), nullptr) << "no normalisation";
}

TEST(MirrorList, OutOfRangeAccessGivesNothingAndLeavesTheListAlone) {
  const velmora::testing::ExpectReports expected; // each bad access is reported
  TMirrorList list = listWithPings({10, 20});
  EXPECT_EQ(list.Get(-1), nullptr);
  EXPECT_EQ(list.Get(2), nullptr);
  EXPECT_EQ(list.Extract(5), nullptr);
  TFileMirror stranger("http://x/f");
  EXPECT_EQ(list.Extract(&stranger), nullptr);
  EXPECT_EQ(list.IndexOf(&stranger), -1);
  EXPECT_EQ(list.Add(nullptr), nullptr);
  EXPECT_EQ(list.InsertSorted(nullptr), -1);
  EXPECT_EQ(hostsOf(list), (std::vector<std::string>{"m0", "m1"}));
}

TEST(MirrorList, ExtractHandsOwnershipOverAndDeleteEmptiesTheList) {
  TMirrorList looked = listWithPings({30, 10});
  TMirrorList downloads;
  while (looked.Count() > 0)
    downloads.Add(looked.Extract(0));
  EXPECT_EQ(hostsOf(downloads), (std::vector<std::string>{"m0", "m1"}));
  EXPECT_EQ(looked.Count(), 0);
  downloads.DeleteAndFreeAllMirrors();
  EXPECT_EQ(downloads.Count(), 0);
}

} // namespace
