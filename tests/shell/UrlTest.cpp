#include "shell/Url.h"

#include <gtest/gtest.h>

#include <string>

using velmora::kAnonymousFtpPassword;
using velmora::ResolveLocation;
using velmora::TUrl;

namespace {

struct ParseCase {
  std::string url;
  std::string protocol, user, password, host;
  int32_t port;
  std::string dir, fileName, extension, query;
};

void PrintTo(const ParseCase &c, std::ostream *out) { *out << c.url; }

class UrlParse : public ::testing::TestWithParam<ParseCase> {};

TEST_P(UrlParse, SplitsTheAddress) {
  const ParseCase &c = GetParam();
  const TUrl url(c.url);
  EXPECT_EQ(url.Url, c.url);
  EXPECT_EQ(url.Protocol, c.protocol);
  EXPECT_EQ(url.User, c.user);
  EXPECT_EQ(url.Password, c.password);
  EXPECT_EQ(url.Host, c.host);
  EXPECT_EQ(url.Port, c.port);
  EXPECT_EQ(url.Dir, c.dir);
  EXPECT_EQ(url.FileName, c.fileName);
  EXPECT_EQ(url.Extension, c.extension);
  EXPECT_EQ(url.Query, c.query);
}

const std::string anon(kAnonymousFtpPassword);

INSTANTIATE_TEST_SUITE_P(
    Cases, UrlParse,
    ::testing::Values(
        // Scheme completion is case-sensitive and only for "www" and "ftp".
        ParseCase{"www.host/pub/a.zip", "http", "", "", "www.host", 80, "/pub/", "a.zip", "zip", ""},
        ParseCase{"ftp.host/a.zip", "ftp", "anonymous", anon, "ftp.host", 21, "/", "a.zip", "zip", ""},
        ParseCase{"FTP.host/a.zip", "Unknown", "", "", "", 0, "", "", "", ""},
        ParseCase{"host/a.zip", "Unknown", "", "", "", 0, "", "", "", ""},
        ParseCase{"", "Unknown", "", "", "", 0, "", "", "", ""},
        // Ports.
        ParseCase{"http://host:81/a.zip", "http", "", "", "host", 81, "/", "a.zip", "zip", ""},
        ParseCase{"http://host:abc/a.zip", "http", "", "", "host", 0, "/", "a.zip", "zip", ""},
        ParseCase{"http://host:/a", "http", "", "", "host", 0, "/", "a", "", ""},
        ParseCase{"http://host:70000/a", "http", "", "", "host", 0, "/", "a", "", ""},
        ParseCase{"http://host:-1/a", "http", "", "", "host", 0, "/", "a", "", ""},
        ParseCase{"http://host/a:b.zip", "http", "", "", "host", 80, "/", "a:b.zip", "zip", ""},
        // https follows http, on 443.
        ParseCase{"https://Host/d/get.php?f=a.zip#top", "https", "", "", "Host", 443, "/d/", "get.php", "zip",
                  "?f=a.zip"},
        ParseCase{"HTTPS://host:8443/a", "https", "", "", "host", 8443, "/", "a", "", ""},
        ParseCase{"gopher://host/x", "gopher", "", "", "host", 0, "/", "x", "", ""},
        ParseCase{"gopher://host:70/x", "gopher", "", "", "host", 70, "/", "x", "", ""},
        // User information ends at the last "@" before the path.
        ParseCase{"ftp://u:p@ss@host/f.bin", "ftp", "u", "p@ss", "host", 21, "/", "f.bin", "bin", ""},
        ParseCase{"http://user:pa:ss@host/f", "http", "user", "pa:ss", "host", 80, "/", "f", "", ""},
        ParseCase{"ftp://me@host:2121/pub/", "ftp", "me", "", "host", 2121, "/pub/", "", "", ""},
        ParseCase{"http://host/p?m=a@b", "http", "", "", "host", 80, "/", "p", "", "?m=a@b"},
        ParseCase{"http://host/a@b/c.zip", "http", "", "", "host", 80, "/a@b/", "c.zip", "zip", ""},
        // Queries: FileName stops at "?", the extension is taken before that.
        ParseCase{"http://host/get.php?name=x.zip", "http", "", "", "host", 80, "/", "get.php", "zip",
                  "?name=x.zip"},
        ParseCase{"http://host?x=1", "http", "", "", "host", 80, "/", "", "", "?x=1"},
        ParseCase{"http://host/cgi?path=/a/b.zip", "http", "", "", "host", 80, "/cgi?path=/a/", "b.zip",
                  "zip", ""},
        ParseCase{"ftp://host/a?b.txt", "ftp", "anonymous", anon, "host", 21, "/", "a?b.txt", "txt", ""},
        ParseCase{"http://host/a.zip#part2", "http", "", "", "host", 80, "/", "a.zip", "zip", ""},
        // Directories and case.
        ParseCase{"http://host", "http", "", "", "host", 80, "/", "", "", ""},
        ParseCase{"http://host/dir/", "http", "", "", "host", 80, "/dir/", "", "", ""},
        ParseCase{"HTTP://Host/A.ZIP", "http", "", "", "Host", 80, "/", "A.ZIP", "ZIP", ""},
        ParseCase{"http://host/a.b\\c", "http", "", "", "host", 80, "/", "a.b\\c", "", ""},
        ParseCase{"http://host/archive.tar.gz", "http", "", "", "host", 80, "/", "archive.tar.gz", "gz", ""},
        // IPv6 literals.
        ParseCase{"http://[::1]:8080/a.zip", "http", "", "", "::1", 8080, "/", "a.zip", "zip", ""},
        ParseCase{"ftp://u:p@[fe80::2]/x", "ftp", "u", "p", "fe80::2", 21, "/", "x", "", ""},
        ParseCase{"http://[::1/a", "Unknown", "", "", "", 0, "", "", "", ""},
        ParseCase{"http://[::1]x/a", "Unknown", "", "", "", 0, "", "", "", ""},
        ParseCase{"http://user:pass@[[1]://x", "Unknown", "user", "pass", "", 0, "", "", "", ""},
        ParseCase{"http://[]:80/a", "Unknown", "", "", "", 0, "", "", "", ""},
        // Control characters could split a request line.
        ParseCase{"http://host/a\r\nX-Evil: 1", "Unknown", "", "", "", 0, "", "", "", ""},
        ParseCase{std::string("http://host/a\0b", 15), "Unknown", "", "", "", 0, "", "", "", ""},
        ParseCase{"http://host/a\tb", "Unknown", "", "", "", 0, "", "", "", ""},
        ParseCase{"http://host/a\x7F", "Unknown", "", "", "", 0, "", "", "", ""}));

TEST(Url, UnknownProtocolTakesTheCallersWord) {
  EXPECT_EQ(TUrl("host/a.zip", "Unbekannt").Protocol, "Unbekannt");
  EXPECT_EQ(TUrl("http://host/a", "Unbekannt").Protocol, "http");
}

TEST(Url, FullUrlAlwaysWritesThePortAndNormalisesDir) {
  struct Case {
    std::string url, full, withQuery;
  };
  const Case cases[] = {
      {"http://host/get.php?name=x.zip", "http://host:80/get.php", "http://host:80/get.php?name=x.zip"},
      {"http://host", "http://host:80/", "http://host:80/"},
      {"ftp://host/pub/a.zip", "ftp://anonymous:" + anon + "@host:21/pub/a.zip",
       "ftp://anonymous:" + anon + "@host:21/pub/a.zip"},
      {"ftp://me@host/a", "ftp://me@host:21/a", "ftp://me@host:21/a"},
      {"http://u:p@ss@host:81/d/f", "http://u:p@ss@host:81/d/f", "http://u:p@ss@host:81/d/f"},
      {"http://[::1]:8080/a", "http://[::1]:8080/a", "http://[::1]:8080/a"},
      {"nothing", "Unknown://:0/", "Unknown://:0/"},
  };
  for (const Case &c : cases) {
    TUrl url(c.url);
    EXPECT_EQ(url.FullUrl(), c.full) << c.url;
    EXPECT_EQ(url.FullUrlWithQuery(), c.withQuery) << c.url;
  }
}

TEST(Url, FullUrlMendsAHandSetDir) {
  TUrl url("http://host/a");
  url.Dir = "pub";
  EXPECT_EQ(url.FullUrl(), "http://host:80/pub/a");
  EXPECT_EQ(url.Dir, "/pub/");
  url.Dir.clear();
  EXPECT_EQ(url.FullUrl(), "http://host:80/a");
  EXPECT_EQ(url.Dir, "/");
}

TEST(Url, FullUrlParsesBackToTheSameParts) {
  for (const char *text :
       {"http://u:p@host:81/d/e/f.zip?q=1", "ftp://host/pub/x.tar.gz", "http://[::1]:99/a"}) {
    TUrl first(text);
    const TUrl again(first.FullUrlWithQuery());
    EXPECT_EQ(again.Protocol, first.Protocol) << text;
    EXPECT_EQ(again.User, first.User) << text;
    EXPECT_EQ(again.Password, first.Password) << text;
    EXPECT_EQ(again.Host, first.Host) << text;
    EXPECT_EQ(again.Port, first.Port) << text;
    EXPECT_EQ(again.Dir, first.Dir) << text;
    EXPECT_EQ(again.FileName, first.FileName) << text;
    EXPECT_EQ(again.Query, first.Query) << text;
  }
}

TEST(Url, RequestPathKeepsTheQueryAndEncodesUnsafeBytes) {
  struct Case {
    std::string url, path;
  };
  const Case cases[] = {
      {"http://host/get.php?name=x.zip", "/get.php?name=x.zip"},
      {"http://host", "/"},
      {"http://host?x=1", "/?x=1"},
      {"http://host/cgi?path=/a/b.zip", "/cgi?path=/a/b.zip"},
      {"http://host/my file.zip", "/my%20file.zip"},
      {"http://host/\xC3\xA4.zip", "/%C3%A4.zip"},
      {"http://host/a%20b", "/a%20b"},
      {"http://host/a.zip#frag", "/a.zip"},
  };
  for (const Case &c : cases)
    EXPECT_EQ(TUrl(c.url).RequestPath(), c.path) << c.url;
}

TEST(Url, ServerNameIsHostAndPortBesidesTheOldDefaults) {
  const std::pair<std::string, std::string> cases[] = {
      {"http://Host/a", "Host"},
      {"ftp://host/a", "host"},
      {"https://host/a", "host:443"},
      {"http://host:8080/a", "host:8080"},
      {"https://[::1]:8443/a", "[::1]:8443"},
      {"ftp://host:2121/a", "host:2121"},
  };
  for (const auto &[url, name] : cases)
    EXPECT_EQ(TUrl(url).ServerName(), name) << url;
}

TEST(Url, HostForAddressBracketsIpv6) {
  EXPECT_EQ(TUrl("http://[::1]:8080/").HostForAddress(), "[::1]");
  EXPECT_EQ(TUrl("http://127.0.0.1/").HostForAddress(), "127.0.0.1");
}

TEST(Url, ResolveLocation) {
  struct Case {
    std::string base, location, resolved;
  };
  const Case cases[] = {
      {"http://host/a/b.zip", "http://other:81/c.zip", "http://other:81/c.zip"},
      {"http://host/a/b.zip", "HTTPS://other/c", "HTTPS://other/c"},
      {"http://host/a/b.zip", "ftp://f.host/x", "ftp://f.host/x"},
      {"http://host:8080/a/b.zip", "//mirror/c.zip", "http://mirror/c.zip"},
      {"http://host:8080/a/b.zip", "/c/d.zip", "http://host:8080/c/d.zip"},
      {"http://u:p@host/a/b.zip", "/c.zip", "http://u:p@host:80/c.zip"},
      {"http://host/a/b.zip", "c.zip", "http://host:80/a/c.zip"},
      {"http://host/a/b.zip", "../c.zip", "http://host:80/c.zip"},
      {"http://host/a/b.zip", "../../../c.zip", "http://host:80/c.zip"},
      {"http://host/a/b.zip", "./x/./y/../c.zip?k=v", "http://host:80/a/x/c.zip?k=v"},
      {"http://host/a/b.zip", "..", "http://host:80/"},
      {"http://host/a/b.php?x=1", "?y=2", "http://host:80/a/b.php?y=2"},
      {"http://host/a/b.php?x=1", "#top", "http://host:80/a/b.php?x=1"},
      {"http://[::1]:8080/a", "/b", "http://[::1]:8080/b"},
      {"http://host/a", "  /b  ", "http://host:80/b"},
      {"http://host/a", "", ""},
      {"http://host/a", "/b\r\nSet-Cookie: x", ""},
  };
  for (const Case &c : cases)
    EXPECT_EQ(ResolveLocation(TUrl(c.base), c.location), c.resolved) << c.base << " + " << c.location;
}

} // namespace
