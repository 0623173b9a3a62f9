#include "app/VelmoraGetRunner.h"
#include "support/PeerServers.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

namespace velmora {
namespace {

using testing::NginxPeer;
using testing::ReadWholeFile;
using testing::TempDir;
using testing::WriteWholeFile;

class VelmoraGetExtractTest : public testing::VelmoraGetRunner {
protected:
  NginxPeer nginx;
};

// The program links the record library and the zip library together: every entry of the
// archive comes out, names without a dot included.
TEST_F(VelmoraGetExtractTest, ExtractsEveryEntryOfTheDownloadedArchive) {
  TempDir source;
  const std::string names[] = {"README", "LICENSE", "src/Makefile", "bin/tool", "docs/notes.txt"};
  for (const std::string &name : names) {
    std::filesystem::create_directories((source.path() / name).parent_path());
    WriteWholeFile(source.path() / name, "content of " + name + "\n");
  }
  const std::string archive = (nginx.filesFolder() / "project.zip").string();
  const std::string zip = "cd '" + source.path().string() + "' && zip -q -r '" + archive + "' .";
  ASSERT_EQ(std::system(zip.c_str()), 0);

  TempDir target;
  std::string errors;
  ASSERT_EQ(Run({"--extract", target.path().string(), nginx.url("/files/project.zip")}, errors), 0) << errors;
  for (const std::string &name : names)
    EXPECT_EQ(ReadWholeFile(target.path() / name), "content of " + name + "\n") << name << "\n" << errors;
}

} // namespace
} // namespace velmora
