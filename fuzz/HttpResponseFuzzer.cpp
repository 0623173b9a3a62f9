// Feeds arbitrary server replies to the HTTP response parser and to the whole client, in pieces
// of varying size, through a stream that plays the reply back for every connection.
#include "net/HttpHeaderParser.h"
#include "net/HttpProt.h"

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

using namespace velmora;

// Plays a fixed reply back on every connection, cut into pieces of the given size.
class ReplayStream final : public TByteStream {
public:
  ReplayStream(platform::EventLoop &loop, const std::string &reply, std::size_t piece)
      : loop_(loop), reply_(reply), piece_(piece) {}

  void DnsLookup(const std::string &) override {
    if (OnDnsLookupDone)
      OnDnsLookupDone(0);
  }
  void CancelDnsLookup() override {}
  std::string DnsResult() const override { return "127.0.0.1"; }
  void Connect(const std::string &, const std::string &, const std::string &) override {
    open_ = true;
    position_ = 0;
    const uint64_t connection = ++connection_;
    loop_.post([this, connection] {
      if (connection != connection_ || !open_)
        return;
      if (OnSessionConnected)
        OnSessionConnected(0);
      Pump(connection);
    });
  }
  int64_t Send(const void *, int64_t length) override { return length; }
  int64_t Receive(void *buffer, int64_t size) override {
    if (!open_)
      return -1;
    const std::size_t count = std::min({static_cast<std::size_t>(size), piece_, reply_.size() - position_});
    std::memcpy(buffer, reply_.data() + position_, count);
    position_ += count;
    return static_cast<int64_t>(count);
  }
  void Close() override { open_ = false; }
  void Abort() override { open_ = false; }
  int32_t LastError() const override { return 0; }

private:
  void Pump(uint64_t connection) {
    loop_.post([this, connection] {
      if (connection != connection_ || !open_)
        return;
      if (position_ < reply_.size()) {
        if (OnDataAvailable)
          OnDataAvailable(0);
        Pump(connection);
      } else {
        open_ = false;
        if (OnSessionClosed)
          OnSessionClosed(0);
      }
    });
  }

  platform::EventLoop &loop_;
  const std::string &reply_;
  std::size_t piece_;
  std::size_t position_ = 0;
  bool open_ = false;
  uint64_t connection_ = 0;
};

void FuzzParser(const std::string &reply, std::size_t piece) {
  THttpHeaderParser parser;
  std::size_t offset = 0;
  for (;;) {
    const THttpHeaderParser::TStep step = parser.Next();
    if (step == THttpHeaderParser::hpError || step == THttpHeaderParser::hpHeaderEnd ||
        step == THttpHeaderParser::hpNoHeader)
      break;
    if (step == THttpHeaderParser::hpNeedMore) {
      if (offset == reply.size() || parser.FreeSize() == 0)
        break;
      offset += parser.Append(reply.data() + offset, std::min(piece, reply.size() - offset));
    }
  }
  const THttpResponseHead &head = parser.Head();
  if (head.ContentLength < -1 || (head.HasContentRange && head.ContentRange.End < head.ContentRange.Begin))
    std::abort();
}

void FuzzClient(const std::string &reply, std::size_t piece) {
  platform::EventLoop loop;
  THttpCli client(loop,
                  [&](platform::EventLoop &l) { return std::make_unique<ReplayStream>(l, reply, piece); });
  int64_t delivered = 0;
  int done = 0;
  client.OnDocData = [&](THttpCli &, const char *, std::size_t length) {
    delivered += static_cast<int64_t>(length);
  };
  client.OnRequestDone = [&](THttpCli &, THttpRequest, uint16_t) { ++done; };
  client.URL = "http://127.0.0.1:8080/dir/file?x=1";
  client.ContentRangeBegin = 100;
  client.StartGet();
  for (int i = 0; i < 200000 && done == 0; ++i)
    loop.runOnce(0);
  // One completion per request; a declared length is never exceeded.
  if (done != 1 || (client.ContentLength() >= 0 && delivered > client.ContentLength()))
    std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1)
    return 0;
  const std::size_t piece = 1 + data[0] % 64 * 97;
  const std::string reply(reinterpret_cast<const char *>(data + 1), size - 1);
  FuzzParser(reply, piece);
  FuzzClient(reply, piece);
  return 0;
}
