#include "mirrors/MirrorLayer.h"
#include "platform/ShippedFiles.h"
#include "support/LoopRunner.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

using velmora::TFileMirror;
using velmora::TMirrorList;
using velmora::testing::TempDir;
using velmora::testing::WriteWholeFile;

namespace {

velmora::platform::Paths pathsIn(const TempDir &home) {
  const std::string folder = home.path().string();
  return velmora::platform::Paths::Compute(
      [folder](const std::string &name) -> std::optional<std::string> {
        if (name == "VELMORA_HOME")
          return folder;
        return std::nullopt;
      },
      velmora::platform::RunningProgramFile());
}

TEST(MirrorLayer, WiresTheServicesOfTheDataFolderTogether) {
  TempDir home;
  const velmora::platform::Paths paths = pathsIn(home);
  ASSERT_TRUE(velmora::platform::InstallShippedFiles(paths))
      << "the shipped mirrors.lst reaches the data folder";
  WriteWholeFile(paths.serverStatsFile, "1\r\nftp.de.debian.org\t30\t1\t0\t0\r\norg\t200\t5\t0\t0\r\n");

  velmora::platform::EventLoop loop;
  std::vector<std::string> pinged;
  {
    velmora::TMirrorLayer layer(loop, paths, [](const std::string &) {
      return velmora::TPingOutcome{true, 20};
    });
    velmora::TMirrorServices services = layer.Services();
    ASSERT_NE(services.LocalMirrorList, nullptr);
    ASSERT_NE(services.Statistics, nullptr);
    ASSERT_NE(services.PingSystems, nullptr);

    TMirrorList found = services.LocalMirrorList->GetMirrors("http://deb.debian.org/debian/pool/x.deb");
    ASSERT_GT(found.Count(), 2) << "the shipped list knows the Debian mirrors";
    services.Statistics->OrderMirrors(found);
    EXPECT_EQ(found.Get(0)->Url.Host, "ftp.de.debian.org") << "the one server with a remembered ping first";

    auto pings =
        services.PingSystems->CreatePingSystem(8, [&](TFileMirror &m) { pinged.push_back(m.Url.Host); });
    pings->AddMirrors(found);
    ASSERT_TRUE(velmora::testing::RunUntil(
        loop, [&] { return pinged.size() == static_cast<std::size_t>(found.Count()); }));
    EXPECT_EQ(found.Get(1)->PingTime, 20);
  }
  EXPECT_EQ(loop.registeredCount(), 0u);
}

} // namespace
