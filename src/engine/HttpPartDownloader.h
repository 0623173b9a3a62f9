#pragma once

#include "engine/PartDownloader.h"
#include "engine/PartFile.h"
#include "engine/SiteCredentials.h"
#include "net/HttpProt.h"
#include "platform/Environment.h"
#include "platform/EventLoop.h"
#include "store/Registry.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace velmora {

// What HTTP part downloaders need; it outlives them.
struct THttpPartContext {
  platform::EventLoop &Loop;
  const TSettingsStore &Settings;    // the proxy settings, read at every start
  platform::Environment Environment; // the system proxy, the default of those settings
  ISiteCredentials &Credentials;
  const TConstants &Words;
  TByteStreamFactory Streams = MakeTcpStream;
  // The command line's way of judging https servers for the run, in place of the settings.
  std::optional<bool> VerifyCertificates{};
  std::string CaCertificateFile{};
  // Hears why a TLS connection to a server failed (its address and the library's reason).
  std::function<void(const std::string &Server, const std::string &Reason)> OnTlsFailure{};
};

// Fetches one byte range over HTTP into its part file, asking for "bytes=<first missing byte>-"
// and stopping by itself when the range is full. Completion is judged by the bytes on disk:
// a part with an end is done when the file holds the whole range; a part without an end when it
// reaches the file size the server announced (or, when the server announced none, when the server
// closed the connection cleanly after the body). The part file is open only while a request runs,
// and only body bytes of a successful response that start where the file ends are written. A whole
// 206 reply that carries less than the part still needs is progress: the part asks again from
// where it stands, until kMaxFruitlessReplies replies in a row have brought nothing.
class THTTPPartDownloader : public TPartDownloader {
public:
  static constexpr int kMaxFruitlessReplies = 3;

  THTTPPartDownloader(const THttpPartContext &context, std::string_view Url, const std::string &FileName,
                      int64_t StartB, int64_t EndB);
  ~THTTPPartDownloader() override;

  void Get() override;
  void Abort() override;
  void Pause() override;
  void Stop() override;
  void Detach() override;
  // One client speaks both; the scheme it was made for tells the slot when a mirror needs another.
  std::string_view Protocol() const override { return secure_ ? "https" : "http"; }

  THttpCli *Client() const { return Client_.get(); }

private:
  void CreateClient();
  void ApplyCredentials();
  void ApplyProxy();
  void ApplyTls();
  void ReportTlsFailure(uint16_t Error);
  void StartRequest();
  void FinishWithoutRequest();

  void OnSessionConnected();
  void OnHeaderData();
  void OnHeaderEnd();
  void AcceptResponse(int32_t status);
  void DemandCredentials();
  void OnDocData(const char *Buffer, std::size_t Len);
  bool WriteBody(const char *data, int64_t length);
  void OnRequestDone(uint16_t Error);
  void EndRequest(uint16_t Error);
  bool Complete(uint16_t Error) const;
  bool ShortReplyEnded(uint16_t Error) const;
  bool AskAgain();

  const THttpPartContext &context_;
  const bool secure_;
  std::unique_ptr<THttpCli> Client_;
  TPartFile file_;         // open while a request runs
  bool running_ = false;   // a request of ours is under way
  bool accepting_ = false; // body bytes of the current response go to the file
  bool detached_ = false;
  bool stopped_ = false;          // we ended the transfer ourselves
  bool responseAccepted_ = false; // a 200 or 206 of this request was taken as the part's data
  int64_t announcedTotal_ = -1;   // size of the whole file as this response gave it; -1 none
  int64_t replyLast_ = -1;        // offset of the last byte the accepted 206 promised; -1 none
  int64_t receivedAtRequest_ = 0; // Received when the current request started
  int fruitlessReplies_ = 0;      // whole 206 replies in a row that brought no byte
  // Each StartGet is followed by exactly one OnRequestDone; those of requests ended before the
  // current one started arrive first and are passed over.
  uint64_t requestsStarted_ = 0;
  uint64_t requestsEnded_ = 0;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace velmora
