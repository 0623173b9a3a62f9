#include "net/HttpErrors.h"
#include "net/HttpHeaderParser.h"
#include "net/HttpRequest.h"

#include <gtest/gtest.h>
#include <limits>

namespace velmora {
namespace {

THttpHeaderParser::TStep Feed(THttpHeaderParser &parser, const std::string &text) {
  parser.Append(text.data(), text.size());
  THttpHeaderParser::TStep step;
  while ((step = parser.Next()) == THttpHeaderParser::hpLine) {
  }
  return step;
}

TEST(HttpHeaderParser, StatusLines) {
  struct Case {
    const char *line;
    int32_t status; // 0: malformed
    const char *reason;
  } cases[] = {
      {"HTTP/1.0 200 OK", 200, "OK"},
      {"HTTP/1.1 206 Partial Content", 206, "Partial Content"},
      {"HTTP/1.1 404", 404, ""},
      {"HTTP/1.1  302  Found", 302, "Found"},
      {"HTTP/1.0 2000 OK", 0, ""},
      {"HTTP/1.0 20 OK", 0, ""},
      {"HTTP/1.0 099 Low", 0, ""},
      {"HTTX/1.0 200 OK", 0, ""},
      {"HTTP/1.0", 0, ""},
      {"Content-Length: 5", 0, ""},
  };
  for (const Case &c : cases) {
    THttpHeaderParser parser;
    const auto step = Feed(parser, std::string(c.line) + "\r\n\r\n");
    if (c.status == 0) {
      EXPECT_EQ(step, THttpHeaderParser::hpError) << c.line;
      EXPECT_EQ(parser.ErrorNumber(), httperr::MalformedResponse) << c.line;
    } else {
      EXPECT_EQ(step, THttpHeaderParser::hpHeaderEnd) << c.line;
      EXPECT_EQ(parser.Head().StatusCode, c.status) << c.line;
      EXPECT_EQ(parser.Head().ReasonPhrase, c.reason) << c.line;
    }
  }
}

TEST(HttpHeaderParser, LengthsAndRangesAreCheckedForOverflowAndForm) {
  int64_t length = 0;
  EXPECT_TRUE(ParseContentLength(" 3000000000 ", length));
  EXPECT_EQ(length, 3000000000);
  EXPECT_TRUE(ParseContentLength("9223372036854775807", length));
  EXPECT_EQ(length, std::numeric_limits<int64_t>::max());
  for (const char *bad : {"", "-1", "12abc", "1 2", "9223372036854775808", "99999999999999999999999", "+5"})
    EXPECT_FALSE(ParseContentLength(bad, length)) << bad;

  struct Case {
    const char *value;
    bool valid;
    TContentRange range;
  } cases[] = {
      {"bytes 1000-4999/5000", true, {1000, 4999, 5000}},
      {"bytes 3000000000-3999999999/4000000000", true, {3000000000, 3999999999, 4000000000}},
      {"bytes 0-99/*", true, {0, 99, -1}},
      {"bytes */5000", true, {-1, -1, 5000}},
      {"BYTES 1-2/3", true, {1, 2, 3}},
      {"bytes 5-4/10", false, {}},
      {"bytes 0-10/10", false, {}},
      {"bytes 0-99", false, {}},
      {"bytes */*", false, {}},
      {"bits 0-1/2", false, {}},
      {"bytes 0-99999999999999999999/*", false, {}},
  };
  for (const Case &c : cases) {
    TContentRange range;
    ASSERT_EQ(ParseContentRange(c.value, range), c.valid) << c.value;
    if (c.valid) {
      EXPECT_EQ(range.Begin, c.range.Begin) << c.value;
      EXPECT_EQ(range.End, c.range.End) << c.value;
      EXPECT_EQ(range.Total, c.range.Total) << c.value;
    }
  }
}

TEST(HttpHeaderParser, FieldsAndTheBodyThatFollows) {
  THttpHeaderParser parser;
  const auto step =
      Feed(parser, "HTTP/1.1 206 Partial\r\nContent-Length: 10\nContent-Type: Text/HTML\r\n"
                   "Accept-Ranges: bytes\r\nLocation: /x\r\nWWW-Authenticate: Basic realm=\"a\"\r\n"
                   "WWW-Authenticate: Digest\r\nX-Other: y\r\n\r\n"
                   "content-range: bytes 0-9/10\r\n\r\nbody");
  ASSERT_EQ(step, THttpHeaderParser::hpHeaderEnd);
  const THttpResponseHead &head = parser.Head();
  EXPECT_EQ(head.ContentLength, 10);
  EXPECT_EQ(head.ContentType, "text/html");
  EXPECT_EQ(head.AcceptRanges, "bytes");
  EXPECT_EQ(head.Location, "/x");
  EXPECT_EQ(head.AuthenticateValues, (std::vector<std::string>{"Basic realm=\"a\"", "Digest"}));
  // The blank line before a Content-Range line does not end the header.
  EXPECT_TRUE(head.HasContentRange);
  EXPECT_EQ(head.ContentRange.End, 9);
  EXPECT_EQ(head.ReceivedHeaders.size(), 9u);
  EXPECT_EQ(parser.Remainder(), "body");
}

TEST(HttpHeaderParser, BoundsAndConflicts) {
  struct Case {
    std::string text;
    uint16_t error;
  } cases[] = {
      {"HTTP/1.0 200 OK\r\nX: " + std::string(9000, 'a'), httperr::LineTooLong},
      {[] {
         std::string flood = "HTTP/1.0 200 OK\r\n";
         for (int i = 0; i < 300; ++i)
           flood += "X-Flood: " + std::to_string(i) + "\r\n";
         return flood;
       }(),
       httperr::HeaderTooLarge},
      {"HTTP/1.0 200 OK\r\nContent-Length: 5\r\nContent-Length: 6\r\n\r\n", httperr::MalformedResponse},
      {"HTTP/1.0 200 OK\r\nContent-Range: bytes x-y/z\r\n\r\n", httperr::MalformedResponse},
  };
  for (const Case &c : cases) {
    THttpHeaderParser parser;
    THttpHeaderParser::TStep step = THttpHeaderParser::hpNeedMore;
    std::size_t offset = 0;
    // Fed in pieces, as a socket delivers it, until the parser stops.
    while (step != THttpHeaderParser::hpError && offset < c.text.size()) {
      offset += parser.Append(c.text.data() + offset, std::min<std::size_t>(1000, c.text.size() - offset));
      while ((step = parser.Next()) == THttpHeaderParser::hpLine) {
      }
    }
    EXPECT_EQ(step, THttpHeaderParser::hpError) << c.text.substr(0, 40);
    EXPECT_EQ(parser.ErrorNumber(), c.error) << c.text.substr(0, 40);
  }
}

TEST(HttpHeaderParser, ResponseWithoutHeader) {
  THttpHeaderParser parser;
  EXPECT_EQ(Feed(parser, "<html><body>x</body></html>"), THttpHeaderParser::hpNoHeader);
  EXPECT_EQ(parser.Remainder(), "<html><body>x</body></html>");
}

TEST(HttpRequestText, LinesInOrder) {
  THttpRequestFields fields;
  fields.Path = "/d/f.zip?x=1";
  fields.Host = "h:8080";
  fields.Accept = "*/*";
  fields.Agent = "Velmora";
  fields.Username = "user";
  fields.ProxyUsername = "proxy";
  fields.ProxyPassword = "secret";
  fields.RangeBegin = 6200;
  EXPECT_EQ(BuildGetRequest(fields), "GET /d/f.zip?x=1 HTTP/1.0\r\n"
                                     "Accept: */*\r\n"
                                     "User-Agent: Velmora\r\n"
                                     "Host: h:8080\r\n"
                                     "Authorization: Basic dXNlcjo=\r\n"
                                     "Proxy-Authorization: Basic cHJveHk6c2VjcmV0\r\n"
                                     "Range: bytes=6200-\r\n"
                                     "\r\n");
  fields = {};
  fields.Host = "h";
  fields.RangeBegin = 3000000000;
  fields.RangeEnd = 3999999999;
  EXPECT_EQ(BuildGetRequest(fields),
            "GET / HTTP/1.0\r\nHost: h\r\nRange: bytes=3000000000-3999999999\r\n\r\n");
}

TEST(HttpRequestText, ControlCharactersNeverReachALine) {
  for (const std::string &bad :
       {std::string("a\r\nX-Injected: 1"), std::string("a\nb"), std::string("a\0b", 3)}) {
    THttpRequestFields fields;
    fields.Host = "h";
    fields.Agent = bad;
    EXPECT_FALSE(BuildGetRequest(fields));
    fields.Agent.clear();
    fields.Path = "/" + bad;
    EXPECT_FALSE(BuildGetRequest(fields));
    // Credentials travel base64-encoded, so whatever they hold cannot break a line.
    fields.Path = "/";
    fields.Username = bad;
    EXPECT_TRUE(BuildGetRequest(fields));
  }
}

TEST(HttpRequestText, Base64) {
  const std::pair<const char *, const char *> cases[] = {
      {"", ""},
      {"f", "Zg=="},
      {"fo", "Zm8="},
      {"foo", "Zm9v"},
      {"Aladdin:open sesame", "QWxhZGRpbjpvcGVuIHNlc2FtZQ=="}};
  for (auto [plain, encoded] : cases)
    EXPECT_EQ(Base64Encode(plain), encoded);
}

} // namespace
} // namespace velmora
