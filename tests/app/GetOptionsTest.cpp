#include "app/GetOptions.h"
#include "app/GetEngine.h"

#include <gtest/gtest.h>

namespace velmora {
namespace {

TEST(GetOptionsTest, SeveralUrlsAndTheQueueOptions) {
  struct Case {
    std::vector<std::string> arguments;
    std::string error; // a part of the message; empty: understood
    bool queue;
  };
  const std::vector<Case> cases = {
      {{"http://h/a"}, "", false},
      {{"-o", "x", "http://h/a"}, "", false},
      {{"-m", "http://m/a", "http://h/a"}, "", false},
      {{"http://h/a", "ftp://h/b"}, "", true},
      {{"-j", "2", "http://h/a"}, "", true},
      {{"--shutdown", "http://h/a"}, "", true},
      {{"--hang-up", "-o", "x", "http://h/a"}, "", true},
      {{"-j", "0", "http://h/a"}, "-j needs a number", false},
      {{"-j", "65", "http://h/a"}, "-j needs a number", false},
      {{"-j"}, "needs a value", false},
      {{"--insecure", "--ca-certificate", "ca.pem", "https://h/a"}, "", false},
      {{"https://h/a", "--ca-certificate"}, "needs a value", false},
      {{"-o", "x", "http://h/a", "http://h/b"}, "-o names one file", false},
      {{"-m", "http://m/a", "http://h/a", "http://h/b"}, "-m and --extract", false},
      {{"--extract", "d", "--shutdown", "http://h/a"}, "-m and --extract", false},
  };
  for (const Case &c : cases) {
    const TGetOptionsResult parsed = ParseGetOptions(c.arguments);
    const std::string shown = ::testing::PrintToString(c.arguments);
    if (!c.error.empty()) {
      EXPECT_NE(parsed.Error.find(c.error), std::string::npos) << shown << ": " << parsed.Error;
      continue;
    }
    EXPECT_EQ(parsed.Error, "") << shown;
    EXPECT_EQ(UsesQueue(parsed.Options), c.queue) << shown;
  }
  const TGetOptionsResult two = ParseGetOptions({"http://h/a", "-j", "3", "ftp://h/b"});
  EXPECT_EQ(two.Options.Url, "http://h/a");
  EXPECT_EQ(two.Options.Urls, (std::vector<std::string>{"http://h/a", "ftp://h/b"}));
  EXPECT_EQ(two.Options.Jobs, 3);
  const TGetOptionsResult tls = ParseGetOptions({"--insecure", "--ca-certificate", "ca.pem", "https://h/a"});
  EXPECT_TRUE(tls.Options.Insecure);
  EXPECT_EQ(tls.Options.CaCertificate, "ca.pem");
}

// The command line's user and password come before the address's; the address's password only
// ever goes with the address's own user.
TEST(GetOptionsTest, CredentialsOfTheCommandLineBeforeThoseOfTheAddress) {
  struct Case {
    std::optional<std::string> user, password;
    std::string url, expectedUser, expectedPassword;
  };
  const std::vector<Case> cases = {
      {std::nullopt, std::nullopt, "ftp://h/f", "anonymous", std::string(kAnonymousFtpPassword)},
      {std::nullopt, std::nullopt, "http://a:pa@h/f", "a", "pa"},
      {"b", "pb", "ftp://a:pa@h/f", "b", "pb"},
      {"b", std::nullopt, "ftp://h/f", "b", ""},
      {"b", std::nullopt, "http://a:pa@h/f", "b", ""},
      {"a", std::nullopt, "http://a:pa@h/f", "a", "pa"},
      {std::nullopt, "pb", "ftp://a:pa@h/f", "a", "pb"},
  };
  for (const Case &c : cases) {
    TCommandLineCredentials credentials(c.user, c.password);
    const TUrl url(c.url);
    EXPECT_EQ(credentials.GetUser(url, ""), c.expectedUser) << c.url;
    EXPECT_EQ(credentials.GetPassword(url, ""), c.expectedPassword) << c.url;
  }
}

} // namespace
} // namespace velmora
