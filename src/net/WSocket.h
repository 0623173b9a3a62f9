#pragma once

#include "net/AsyncResolver.h"
#include "net/SendBuffer.h"
#include "net/SocketAddress.h"
#include "net/WSocketException.h"
#include "platform/EventLoop.h"

#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace velmora {

enum TSocketState {
  wsInvalidState,
  wsOpened,
  wsBound,
  wsConnecting,
  wsConnected,
  wsAccepting,
  wsListening,
  wsClosed
};
enum TSocketLingerOnOff { wsLingerOff, wsLingerOn, wsLingerNoSet };
enum TWSocketOption : uint32_t { wsoNoReceiveLoop = 1, wsoTcpNoDelay = 2 };
enum TSocketSendFlags { wsSendNormal, wsSendUrgent };

// Local or peer address of a socket as the system reports it.
struct TSockName {
  std::string Addr;
  uint16_t Port = 0;
};

// The event-driven TCP socket under the protocol clients. Nothing blocks: lookups, connecting,
// sending and arriving data finish later and are reported by the On... events, always from the
// event loop the socket was created on, one at a time.
class TWSocket {
public:
  using TNotify = std::function<void(TWSocket &Sender, uint16_t Error)>;

  // Bytes one read notification may take in before the loop runs its timers and other sockets.
  static constexpr int64_t kReadBudget = 1 << 20;
  static constexpr int32_t kSendChunkSize = 1460;

  explicit TWSocket(platform::EventLoop &loop);
  ~TWSocket();
  TWSocket(const TWSocket &) = delete;
  TWSocket &operator=(const TWSocket &) = delete;

  // Address, port and protocol may change only while closed; setting the current value is a no-op.
  const std::string &Addr() const { return addr_.Text; }
  void SetAddr(std::string_view value);
  const std::string &Port() const { return port_.Text; }
  void SetPort(std::string_view value);
  const std::string &Proto() const { return proto_.Text; }
  void SetProto(std::string_view value);
  const std::string &LocalAddr() const { return localAddr_; }
  void SetLocalAddr(std::string_view value);
  const std::string &LocalPort() const { return localPort_; }
  void SetLocalPort(std::string_view value);

  TSocketState State() const { return state_; }
  int32_t LastError() const { return lastError_; }
  int64_t ReadCount() const { return readCount_; }
  // Bytes waiting in the system to be read; -1 when the system cannot tell.
  int64_t RcvdCount() const;
  const std::string &DnsResult() const { return dnsResult_; }
  const std::vector<std::string> &DnsResultList() const { return dnsResultList_; }
  // "error" when not connected.
  std::string PeerAddr() const;
  std::string PeerPort() const;
  bool AllSent() const { return queue_.empty() || (queue_.size() == 1 && queue_.front().Empty()); }

  TSocketLingerOnOff LingerOnOff = wsLingerOn;
  uint16_t LingerTimeout = 0;
  uint32_t ComponentOptions = 0;
  TSocketSendFlags SendFlags = wsSendNormal;

  void DnsLookup(const std::string &host);
  void CancelDnsLookup();
  void Connect();
  void Listen();
  // The descriptor of a pending connection of a listening socket (the caller owns it), or -1.
  int Accept();
  // Takes over an already connected descriptor, such as one Accept returned.
  void Dup(int handle);
  // Queues bytes and starts sending; returns the length queued.
  int64_t Send(const void *data, int64_t length);
  // An empty text sends nothing and returns 0.
  int64_t SendText(std::string_view text) {
    return text.empty() ? 0 : Send(text.data(), static_cast<int64_t>(text.size()));
  }
  // Reads what has arrived: the count, 0 when the peer has closed, -1 on error (see LastError).
  int64_t Receive(void *buffer, int64_t size);
  TSockName GetSockName();
  void Shutdown(int how);
  // Orderly release; bytes still in the send queue are dropped, so wait for OnDataSent first.
  void Close();
  // Hard stop: drops the queue, cancels a lookup and resets the connection.
  void Abort();

  TNotify OnDnsLookupDone;
  TNotify OnSessionConnected;
  TNotify OnDataAvailable;
  TNotify OnDataSent;
  TNotify OnSessionAvailable;
  TNotify OnSessionClosed;
  std::function<void(TWSocket &Sender, int64_t BytesSent)> OnSendData;
  std::function<void(TWSocket &Sender, TSocketState OldState, TSocketState NewState)> OnChangeState;
  // When set, receives errors instead of an ESocketException being thrown.
  std::function<void(TWSocket &Sender, const std::string &Message)> OnError;
  // An exception escaped from an event handler; the socket is aborted unless CanClose is cleared.
  std::function<void(TWSocket &Sender, const std::exception &E, bool &CanClose)> OnBgException;

private:
  // A text property with its assigned and resolved flags.
  struct TProperty {
    std::string Text;
    bool Assigned = false;
    bool Resolved = false;
  };

  void SetProperty(TProperty &property, std::string_view value, const char *refusal);
  void ChangeState(TSocketState newState);
  void ResolveForUse(const char *context);
  void CreateSocket(const char *function);
  void SetOption(int level, int name, int value, const char *function);
  void ApplyTcpOptions();
  void ApplyLinger();
  void BindLocal();
  void Watch(uint32_t events);
  void UpdateWatch();
  void HandleEvents(uint32_t events);
  void HandleConnectDone();
  void ReceiveLoop();
  bool PeerHasClosed(int32_t &error);
  void HandleClose(int32_t error);
  void HandleWritable();
  void TryToSend();
  void PostWritable();
  void CloseHandle(bool shutdownFirst);
  void FinishClose();
  void ResetProperties();
  void DeliverLookup(TDnsAnswer answer);
  void HandleBackgroundException(const std::exception &error);
  void Fire(const TNotify &event, uint16_t error);
  bool StillCurrent(const std::weak_ptr<int> &alive, uint64_t connection) const;
  // Runs an event's work; an exception escaping from it or its handlers aborts the socket.
  template <class Body> void Dispatch(Body &&body);
  // Runs a public operation; with OnError set, a socket error goes there instead of the caller.
  template <class Body> void Operation(Body &&body);
  template <class Result, class Body> Result Operation(Body &&body, Result fallback);
  [[noreturn]] void Raise(const std::string &message);
  // Reports a failing system call; for a lost connection the socket is closed first.
  [[noreturn]] void SocketError(const char *function, int32_t error);

  platform::EventLoop &loop_;
  platform::LoopWatch watch_;
  int fd_ = -1;
  TSocketState state_ = wsClosed;
  int32_t lastError_ = 0;
  int64_t readCount_ = 0;
  bool closeReported_ = false;
  bool peerClosed_ = false;
  bool destroying_ = false;
  uint64_t connection_ = 0; // identity of the current connection, for posted notifications
  TProperty addr_, port_, proto_;
  std::string localAddr_ = "0.0.0.0";
  std::string localPort_ = "0";
  TSocketAddress remote_;
  uint16_t remotePort_ = 0;
  int protocol_ = 0;
  std::deque<TBuffer> queue_;
  std::unique_ptr<TAsyncLookup> lookup_;
  std::string dnsResult_;
  std::vector<std::string> dnsResultList_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

} // namespace velmora
