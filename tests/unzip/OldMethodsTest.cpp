#include "unzip/Unzip.h"

#include "ZipTestSupport.h"
#include "support/TempDir.h"

#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <sstream>

namespace velmora {

using testing::TempDir;

// Archives written by old archivers (shrink, implode with a 4 KiB dictionary and two trees, an
// 8 KiB dictionary and three trees); SHA256SUMS.tsv holds each entry's digest as Info-ZIP
// UnZip extracts it.
TEST(OldMethods, ShrunkAndImplodedArchivesExtractAsInfoZipDoes) {
  std::ifstream sums(testing::UnzipDataDir() / "SHA256SUMS.tsv");
  std::map<std::string, std::map<std::string, std::string>> expected;
  std::string line;
  while (std::getline(sums, line)) {
    std::istringstream fields(line);
    std::string archive, entry, digest;
    if (std::getline(fields, archive, '\t') && std::getline(fields, entry, '\t') &&
        std::getline(fields, digest))
      expected[archive][entry] = digest;
  }
  ASSERT_EQ(expected.size(), 4u);
  for (const auto &[archive, entries] : expected) {
    TempDir target;
    TExtractReport report =
        ExtractArchive((testing::UnzipDataDir() / archive).string(), target.path().string());
    EXPECT_TRUE(report.Succeeded()) << archive << ": " << report.ErrorText();
    EXPECT_EQ(report.Result, static_cast<int32_t>(entries.size())) << archive;
    for (const auto &[entry, digest] : entries)
      EXPECT_EQ(testing::Sha256OfFile(target.path() / entry), digest) << archive << " " << entry;
  }
}

} // namespace velmora
