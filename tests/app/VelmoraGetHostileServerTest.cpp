#include "app/VelmoraGetRunner.h"
#include "net/ScriptedServer.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

namespace velmora {
namespace {

using testing::RandomBytes;
using testing::ReadWholeFile;
using testing::Script;

// The first byte a request asks for: its "Range: bytes=N-", or 0 without one.
int64_t AskedFrom(const std::string &request) {
  const std::string key = "Range: bytes=";
  const std::size_t at = request.find(key);
  return at == std::string::npos ? 0 : std::stoll(request.substr(at + key.size()));
}

std::string InChunks(const std::string &data, std::size_t chunk) {
  std::string body;
  char size[32];
  for (std::size_t at = 0; at < data.size(); at += chunk) {
    const std::size_t length = std::min(chunk, data.size() - at);
    std::snprintf(size, sizeof size, "%zx\r\n", length);
    body += size + data.substr(at, length) + "\r\n";
  }
  return body + "0\r\n\r\n";
}

// A 206 for the bytes from the asked offset on, at most most of them, framed as the row says.
using Reply = std::function<std::string(const std::string &file, int64_t from)>;

std::string PartialHead(const std::string &file, int64_t from, std::size_t count) {
  return "HTTP/1.1 206 Partial Content\r\nContent-Range: bytes " + std::to_string(from) + "-" +
         std::to_string(from + static_cast<int64_t>(count) - 1) + "/" + std::to_string(file.size()) + "\r\n";
}

// Every connection gets the same treatment; more connections than any run needs.
std::vector<Script> Serving(const std::string &file, Reply reply, int connections = 200) {
  // One copy of the file for all the connections.
  auto shared = std::make_shared<const std::string>(file);
  Script script{testing::ReadRequest(), testing::Answer([shared, reply](const std::string &request) {
                  return reply(*shared, AskedFrom(request));
                }),
                testing::CloseConnection()};
  return std::vector<Script>(static_cast<std::size_t>(connections), script);
}

class VelmoraGetHostileServerTest : public testing::VelmoraGetRunner {
protected:
  std::string Url(const testing::ScriptedServer &server) const {
    return "http://127.0.0.1:" + std::to_string(server.port()) + "/dir/file.bin";
  }
  std::filesystem::path Saved() const { return out.path() / "file.bin"; }
};

TEST_F(VelmoraGetHostileServerTest, ChunkedRepliesGiveTheExactFile) {
  const std::string file = RandomBytes(3 * 1024 * 1024 + 517, 21);
  const std::vector<std::pair<const char *, Reply>> rows = {
      {"206, chunked, Connection: close",
       [](const std::string &f, int64_t from) {
         const std::string rest = f.substr(static_cast<std::size_t>(from));
         return PartialHead(f, from, rest.size()) +
                "Transfer-Encoding: chunked\r\nConnection: close\r\n\r\n" + InChunks(rest, 1000);
       }},
      {"206, chunked, with a Content-Length that does not count",
       [](const std::string &f, int64_t from) {
         const std::string rest = f.substr(static_cast<std::size_t>(from));
         return PartialHead(f, from, rest.size()) + "Content-Length: " + std::to_string(rest.size()) +
                "\r\nTransfer-Encoding: chunked\r\n\r\n" + InChunks(rest, 4093);
       }},
      {"200, chunked, no ranges",
       [](const std::string &f, int64_t) {
         return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + InChunks(f, 65536);
       }},
  };
  for (const auto &[name, reply] : rows) {
    SCOPED_TRACE(name);
    std::filesystem::remove(Saved());
    testing::ScriptedServer server(Serving(file, reply));
    std::string errors;
    ASSERT_EQ(Run({"-n", "4", Url(server)}, errors), 0) << errors;
    EXPECT_TRUE(ReadWholeFile(Saved()) == file);
  }
}

TEST_F(VelmoraGetHostileServerTest, ShortPartialRepliesFinishTheFile) {
  // Four parts of 8 MiB, each reply carrying at most 1 MiB of what was asked.
  const std::string file = RandomBytes(32 * 1024 * 1024, 22);
  testing::ScriptedServer server(Serving(file, [](const std::string &f, int64_t from) {
    const std::string some = f.substr(static_cast<std::size_t>(from), 1024 * 1024);
    return PartialHead(f, from, some.size()) + "Content-Length: " + std::to_string(some.size()) + "\r\n\r\n" +
           some;
  }));
  std::string errors;
  ASSERT_EQ(Run({"-n", "4", Url(server)}, errors), 0) << errors;
  EXPECT_TRUE(ReadWholeFile(Saved()) == file);
  EXPECT_GE(server.requests().size(), 32u); // a megabyte a reply
}

TEST_F(VelmoraGetHostileServerTest, BrokenRepliesEndInAnErrorThatSaysWhy) {
  const std::string file = RandomBytes(100000, 23);
  const std::vector<std::tuple<const char *, Reply, std::string>> rows = {
      {"a malformed chunk",
       [](const std::string &f, int64_t from) {
         return PartialHead(f, from, f.size() - static_cast<std::size_t>(from)) +
                "Transfer-Encoding: chunked\r\n\r\n400\r\n" + f.substr(static_cast<std::size_t>(from), 1024) +
                "\r\nnot hex\r\n" + f;
       },
       "Malformed chunk size"},
      {"a chunked body cut off before its last chunk",
       [](const std::string &f, int64_t from) {
         return PartialHead(f, from, f.size() - static_cast<std::size_t>(from)) +
                "Transfer-Encoding: chunked\r\n\r\n400\r\n" + f.substr(static_cast<std::size_t>(from), 1024) +
                "\r\n";
       },
       "Lost connection to server"},
      {"206 replies without a byte",
       [](const std::string &f, int64_t from) {
         return PartialHead(f, from, f.size() - static_cast<std::size_t>(from)) + "Content-Length: 0\r\n\r\n";
       },
       "Lost connection to server"},
      {"a malformed status line",
       [](const std::string &, int64_t) { return std::string("HTTP/1.1 OK\r\n\r\n"); },
       "Malformed HTTP status line"},
      {"a malformed Content-Length",
       [](const std::string &, int64_t) {
         return std::string("HTTP/1.1 200 OK\r\nContent-Length: 1x\r\n\r\n");
       },
       "Malformed HTTP Content-Length"},
      {"a redirect to another scheme",
       [](const std::string &, int64_t) {
         return std::string("HTTP/1.1 302 Found\r\nLocation: gopher://127.0.0.1/x\r\n\r\n");
       },
       "Invalid redirect location"},
  };
  for (const auto &[name, reply, message] : rows) {
    SCOPED_TRACE(name);
    testing::ScriptedServer server(Serving(file, reply));
    std::string errors;
    EXPECT_EQ(Run({Url(server)}, errors), 1) << errors;
    EXPECT_NE(errors.find(message), std::string::npos) << errors;
    EXPECT_EQ(errors.find("Done"), std::string::npos) << errors;
    EXPECT_FALSE(std::filesystem::exists(Saved()));
  }
}

TEST_F(VelmoraGetHostileServerTest, DebugOutputNamesWhatTheServerDid) {
  testing::ScriptedServer server(Serving("", [](const std::string &, int64_t) {
    return std::string("HTTP/1.1 200 OK\r\nContent-Range: x\r\n\r\n");
  }));
  environment.push_back("VELMORA_DEBUG=1");
  std::string errors;
  EXPECT_EQ(Run({Url(server)}, errors), 1) << errors;
  EXPECT_NE(errors.find("velmora: GET http://127.0.0.1:" + std::to_string(server.port()) +
                        "/dir/file.bin: Malformed HTTP Content-Range"),
            std::string::npos)
      << errors;
}

} // namespace
} // namespace velmora
