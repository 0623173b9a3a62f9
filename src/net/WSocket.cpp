#include "net/WSocket.h"

#include "net/SocketErrors.h"
#include "shell/ReportError.h"

#include <cerrno>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <system_error>
#include <unistd.h>

namespace velmora {

namespace {

using platform::EventLoop;

// Passes of the receive loop per notification, so a handler that leaves data unread cannot
// hold the loop for ever.
constexpr int kMaxReceivePasses = 64;
// Chunks handed to the system in one send call.
constexpr int kMaxChunksPerSend = 64;

int32_t LastSystemError() { return SocketErrorFromErrno(errno); }

bool MeansConnectionGone(int32_t error) {
  return error == socketerr::InvalidArgument || error == socketerr::NotSocket ||
         error == socketerr::ConnectionAborted || error == socketerr::ConnectionReset ||
         error == socketerr::NotConnected;
}

} // namespace

TWSocket::TWSocket(EventLoop &loop) : loop_(loop), watch_(loop) { ResetProperties(); }

TWSocket::~TWSocket() {
  destroying_ = true;
  lookup_.reset();
  queue_.clear();
  CloseHandle(true);
}

template <class Body> void TWSocket::Dispatch(Body &&body) {
  std::weak_ptr<int> alive = alive_;
  try {
    body();
  } catch (const std::exception &error) {
    if (!alive.expired())
      HandleBackgroundException(error);
  } catch (...) {
    if (!alive.expired())
      HandleBackgroundException(std::runtime_error("unknown exception"));
  }
}

template <class Body> void TWSocket::Operation(Body &&body) {
  if (!OnError) {
    body();
    return;
  }
  try {
    body();
  } catch (const ESocketException &error) {
    OnError(*this, error.what());
  }
}

template <class Result, class Body> Result TWSocket::Operation(Body &&body, Result fallback) {
  if (!OnError)
    return body();
  try {
    return body();
  } catch (const ESocketException &error) {
    OnError(*this, error.what());
    return fallback;
  }
}

void TWSocket::Raise(const std::string &message) { throw ESocketException(message, lastError_); }

void TWSocket::SocketError(const char *function, int32_t error) {
  lastError_ = error;
  if ((error == socketerr::ConnectionReset || error == socketerr::NotConnected) && state_ != wsClosed) {
    std::weak_ptr<int> alive = alive_;
    CloseHandle(false);
    closeReported_ = true;
    Fire(OnSessionClosed, static_cast<uint16_t>(error));
    if (alive.expired())
      throw ESocketException("socket destroyed", error);
    ChangeState(wsClosed);
    ResetProperties();
  }
  Raise("Error " + std::to_string(error) + " in function " + function + "\r\n" + WSocketErrorDesc(error));
}

void TWSocket::Fire(const TNotify &event, uint16_t error) {
  if (event)
    event(*this, error);
}

bool TWSocket::StillCurrent(const std::weak_ptr<int> &alive, uint64_t connection) const {
  return !alive.expired() && connection_ == connection && fd_ >= 0;
}

void TWSocket::ChangeState(TSocketState newState) {
  const TSocketState oldState = state_;
  state_ = newState;
  if (oldState != newState && OnChangeState)
    OnChangeState(*this, oldState, newState);
}

void TWSocket::SetProperty(TProperty &property, std::string_view value, const char *refusal) {
  const std::string trimmed = TrimBlanks(value);
  if (property.Assigned && property.Text == trimmed)
    return;
  Operation([&] {
    if (state_ != wsClosed)
      Raise(refusal);
    property.Text = trimmed;
    property.Assigned = !trimmed.empty();
    property.Resolved = false;
  });
}

void TWSocket::SetAddr(std::string_view value) {
  SetProperty(addr_, value, "Cannot change Addr if not closed");
}

void TWSocket::SetPort(std::string_view value) {
  SetProperty(port_, value, "Cannot change Port if not closed");
}

void TWSocket::SetProto(std::string_view value) {
  SetProperty(proto_, value, "Cannot change Proto if not closed");
}

void TWSocket::SetLocalAddr(std::string_view value) {
  Operation([&] {
    if (state_ != wsClosed)
      Raise("Cannot change LocalAddr if not closed");
    const std::string trimmed = TrimBlanks(value);
    auto normalised = NormaliseDottedQuad(trimmed.empty() ? "0.0.0.0" : trimmed);
    if (!normalised)
      Raise("SetLocalAddr(): Invalid IP address");
    localAddr_ = *normalised;
  });
}

void TWSocket::SetLocalPort(std::string_view value) {
  Operation([&] {
    if (state_ != wsClosed)
      Raise("Cannot change LocalPort if not closed");
    const std::string trimmed = TrimBlanks(value);
    localPort_ = trimmed.empty() ? "0" : trimmed;
  });
}

int64_t TWSocket::RcvdCount() const {
  int waiting = 0;
  if (fd_ < 0 || ioctl(fd_, FIONREAD, &waiting) != 0)
    return -1;
  return waiting;
}

std::string TWSocket::PeerAddr() const {
  TSocketAddress peer;
  peer.Length = sizeof peer.Storage;
  if (fd_ < 0 || state_ != wsConnected || getpeername(fd_, peer.Get(), &peer.Length) != 0)
    return "error";
  return peer.AddressText();
}

std::string TWSocket::PeerPort() const {
  TSocketAddress peer;
  peer.Length = sizeof peer.Storage;
  if (fd_ < 0 || state_ != wsConnected || getpeername(fd_, peer.Get(), &peer.Length) != 0)
    return "error";
  return std::to_string(peer.Port());
}

void TWSocket::DnsLookup(const std::string &host) {
  if (host.empty()) {
    lastError_ = socketerr::InvalidArgument;
    Operation([&] { Raise("DNS lookup: invalid host name."); });
    Fire(OnDnsLookupDone, socketerr::InvalidArgument);
    return;
  }
  lookup_.reset();
  dnsResult_.clear();
  dnsResultList_.clear();
  if (auto literal = TSocketAddress::FromLiteral(host, 0)) {
    dnsResult_ = literal->AddressText();
    dnsResultList_.push_back(dnsResult_);
    Fire(OnDnsLookupDone, 0);
    return;
  }
  Operation([&] {
    try {
      lookup_ = std::make_unique<TAsyncLookup>(
          loop_, host, [this](TDnsAnswer answer) { Dispatch([&] { DeliverLookup(std::move(answer)); }); });
    } catch (const std::system_error &error) {
      lastError_ = SocketErrorFromErrno(error.code().value());
      Raise(host + ": can't start DNS lookup, error #" + std::to_string(lastError_));
    }
  });
}

void TWSocket::DeliverLookup(TDnsAnswer answer) {
  lookup_.reset();
  dnsResultList_ = std::move(answer.Addresses);
  if (answer.Error == 0 && !dnsResultList_.empty())
    dnsResult_ = dnsResultList_.front();
  Fire(OnDnsLookupDone, static_cast<uint16_t>(answer.Error));
}

void TWSocket::CancelDnsLookup() {
  if (!lookup_)
    return;
  lookup_.reset();
  if (!destroying_)
    Fire(OnDnsLookupDone, socketerr::Interrupted);
}

void TWSocket::ResolveForUse(const char *context) {
  try {
    if (!proto_.Resolved) {
      protocol_ = WSocketResolveProto(proto_.Text);
      proto_.Resolved = true;
    }
    if (!port_.Resolved) {
      remotePort_ = WSocketResolvePort(port_.Text, proto_.Text);
      port_.Resolved = true;
    }
    if (!addr_.Resolved) {
      remote_ = WSocketResolveHost(addr_.Text);
      addr_.Resolved = true;
    }
    remote_.SetPort(remotePort_);
  } catch (const ESocketException &error) {
    lastError_ = error.ErrorCode;
    Raise(context + std::string(error.what()));
  }
}

void TWSocket::CreateSocket(const char *function) {
  fd_ = socket(remote_.Family(), SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, protocol_);
  if (fd_ < 0)
    SocketError(function, LastSystemError());
  ++connection_;
  peerClosed_ = false;
  closeReported_ = false;
  ChangeState(wsOpened);
}

void TWSocket::SetOption(int level, int name, int value, const char *function) {
  if (setsockopt(fd_, level, name, &value, sizeof value) != 0)
    SocketError(function, LastSystemError());
}

void TWSocket::ApplyTcpOptions() {
  SetOption(SOL_SOCKET, SO_REUSEADDR, 1, "setsockopt(SO_REUSEADDR)");
  if (ComponentOptions & wsoTcpNoDelay)
    SetOption(IPPROTO_TCP, TCP_NODELAY, 1, "setsockopt(IPPROTO_TCP, TCP_NODELAY)");
  ApplyLinger();
  SetOption(SOL_SOCKET, SO_KEEPALIVE, 1, "setsockopt(SO_KEEPALIVE)");
}

void TWSocket::ApplyLinger() {
  if (fd_ < 0)
    Raise("Cannot set linger option at this time");
  // "On with 0 seconds" would turn every graceful close into a reset that can drop the last
  // bytes sent; only Abort resets a connection, so that setting keeps the system's default.
  if (LingerOnOff == wsLingerNoSet || (LingerOnOff == wsLingerOn && LingerTimeout == 0))
    return;
  linger value{};
  value.l_onoff = LingerOnOff == wsLingerOn ? 1 : 0;
  value.l_linger = LingerTimeout;
  if (setsockopt(fd_, SOL_SOCKET, SO_LINGER, &value, sizeof value) != 0)
    SocketError("setsockopt(SO_LINGER)", LastSystemError());
}

void TWSocket::BindLocal() {
  const uint16_t localPort = WSocketResolvePort(localPort_, proto_.Text);
  const bool anyAddress = localAddr_ == "0.0.0.0";
  auto local =
      TSocketAddress::FromLiteral(anyAddress && remote_.Family() == AF_INET6 ? "::" : localAddr_, localPort);
  if (bind(fd_, local->Get(), local->Length) != 0) {
    lastError_ = LastSystemError();
    Raise("winsock.bind failed, error #" + std::to_string(lastError_));
  }
  TSocketAddress bound;
  bound.Length = sizeof bound.Storage;
  if (getsockname(fd_, bound.Get(), &bound.Length) != 0) {
    lastError_ = LastSystemError();
    Raise("winsock.getsockname failed, error #" + std::to_string(lastError_));
  }
  localPort_ = std::to_string(bound.Port());
}

void TWSocket::Watch(uint32_t events) {
  watch_.start(fd_, events, [this](uint32_t raised) { HandleEvents(raised); });
}

void TWSocket::UpdateWatch() {
  if (fd_ < 0)
    return;
  uint32_t wanted = EventLoop::ioRead;
  if (state_ == wsConnecting || state_ == wsOpened || !AllSent())
    wanted |= EventLoop::ioWrite;
  watch_.setEvents(wanted);
}

void TWSocket::Connect() {
  Operation([&] {
    if (fd_ >= 0 && state_ != wsClosed)
      Raise("Connect: Socket already in use");
    lastError_ = socketerr::InvalidArgument;
    if (!port_.Assigned)
      Raise("Connect: No Port Specified");
    if (!addr_.Assigned)
      Raise("Connect: No IP Address Specified");
    if (!proto_.Assigned)
      Raise("Connect: No Protocol Specified");
    lastError_ = 0;
    ResolveForUse("connect: ");
    queue_.clear();
    CreateSocket("Connect (socket)");
    if (protocol_ == IPPROTO_TCP)
      ApplyTcpOptions();
    if (localPort_ != "0" || localAddr_ != "0.0.0.0")
      BindLocal();
    Watch(EventLoop::ioRead | EventLoop::ioWrite);
    if (connect(fd_, remote_.Get(), remote_.Length) != 0 && errno != EINPROGRESS)
      SocketError("Connect", LastSystemError());
    ChangeState(wsConnecting);
  });
}

void TWSocket::Listen() {
  Operation([&] {
    lastError_ = socketerr::InvalidArgument;
    if (!port_.Assigned)
      Raise("listen: port not assigned");
    if (!proto_.Assigned)
      Raise("listen: protocol not assigned");
    if (!addr_.Assigned)
      Raise("listen: address not assigned");
    lastError_ = 0;
    ResolveForUse("listen: ");
    queue_.clear();
    CreateSocket("socket");
    if (bind(fd_, remote_.Get(), remote_.Length) != 0) {
      const int32_t error = LastSystemError();
      CloseHandle(false);
      ChangeState(wsClosed);
      SocketError("Bind", error);
    }
    ChangeState(wsBound);
    if (listen(fd_, 5) != 0)
      SocketError("Listen", LastSystemError());
    ChangeState(wsListening);
    Watch(EventLoop::ioRead);
  });
}

int TWSocket::Accept() {
  return Operation(
      [&] {
        if (state_ != wsListening) {
          lastError_ = socketerr::InvalidArgument;
          Raise("not a listening socket");
        }
        const int handle = accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (handle < 0)
          SocketError("Accept", LastSystemError());
        return handle;
      },
      -1);
}

void TWSocket::Dup(int handle) {
  Operation([&] {
    if (handle < 0)
      SocketError("Dup", socketerr::InvalidArgument);
    if (fd_ >= 0) {
      CloseHandle(true);
      ChangeState(wsClosed);
    }
    const int flags = fcntl(handle, F_GETFL);
    if (flags < 0 || fcntl(handle, F_SETFL, flags | O_NONBLOCK) != 0 ||
        fcntl(handle, F_SETFD, FD_CLOEXEC) != 0)
      SocketError("Dup", LastSystemError());
    fd_ = handle;
    ++connection_;
    peerClosed_ = false;
    closeReported_ = false;
    queue_.clear();
    ApplyLinger();
    Watch(EventLoop::ioRead | EventLoop::ioWrite);
    ChangeState(wsConnected);
  });
}

int64_t TWSocket::Send(const void *data, int64_t length) {
  return Operation(
      [&]() -> int64_t {
        if (state_ != wsConnected)
          SocketError("Send", socketerr::NotConnected);
        if (length <= 0)
          return 0;
        const char *bytes = static_cast<const char *>(data);
        std::size_t remaining = static_cast<std::size_t>(length);
        if (queue_.empty())
          queue_.emplace_back(kSendChunkSize);
        while (remaining > 0) {
          const std::size_t taken = queue_.back().Write(bytes, remaining);
          bytes += taken;
          remaining -= taken;
          if (remaining > 0)
            queue_.emplace_back(kSendChunkSize);
        }
        std::weak_ptr<int> alive = alive_;
        const uint64_t connection = connection_;
        TryToSend();
        if (StillCurrent(alive, connection)) {
          if (AllSent())
            PostWritable();
          else
            UpdateWatch();
        }
        return length;
      },
      int64_t{-1});
}

void TWSocket::TryToSend() {
  std::weak_ptr<int> alive = alive_;
  const uint64_t connection = connection_;
  while (fd_ >= 0 && !AllSent()) {
    iovec chunks[kMaxChunksPerSend];
    int count = 0;
    std::size_t offered = 0;
    for (auto it = queue_.begin(); it != queue_.end() && count < kMaxChunksPerSend; ++it) {
      const std::string_view unread = it->Peek();
      if (unread.empty())
        continue;
      chunks[count].iov_base = const_cast<char *>(unread.data());
      chunks[count].iov_len = unread.size();
      offered += unread.size();
      ++count;
    }
    msghdr message{};
    message.msg_iov = chunks;
    message.msg_iovlen = static_cast<std::size_t>(count);
    const int flags = MSG_NOSIGNAL | (SendFlags == wsSendUrgent ? MSG_OOB : 0);
    const ssize_t sent = sendmsg(fd_, &message, flags);
    if (sent < 0) {
      if (errno == EINTR)
        continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK)
        return;
      const int32_t error = LastSystemError();
      if (!MeansConnectionGone(error))
        SocketError("TryToSend failed", error);
      lastError_ = error;
      closeReported_ = true;
      queue_.clear();
      CloseHandle(false);
      ChangeState(wsClosed);
      Fire(OnSessionClosed, static_cast<uint16_t>(error));
      if (!alive.expired() && connection_ == connection)
        ResetProperties();
      return;
    }
    std::size_t consumed = static_cast<std::size_t>(sent);
    for (auto &chunk : queue_) {
      const std::size_t take = std::min(consumed, chunk.Peek().size());
      chunk.Remove(take);
      consumed -= take;
      if (consumed == 0)
        break;
    }
    // Sent chunks are freed while another follows; the last one stays for reuse.
    while (queue_.size() > 1 && queue_.front().Empty())
      queue_.pop_front();
    if (sent > 0 && OnSendData) {
      OnSendData(*this, sent);
      if (!StillCurrent(alive, connection))
        return;
    }
    if (static_cast<std::size_t>(sent) < offered)
      return; // the rest waits for the socket to become writable
  }
}

void TWSocket::PostWritable() {
  loop_.post([this, alive = std::weak_ptr<int>(alive_), connection = connection_] {
    if (!StillCurrent(alive, connection))
      return;
    Dispatch([&] {
      HandleWritable();
      if (StillCurrent(alive, connection))
        UpdateWatch();
    });
  });
}

void TWSocket::HandleWritable() {
  std::weak_ptr<int> alive = alive_;
  const uint64_t connection = connection_;
  TryToSend();
  if (StillCurrent(alive, connection) && AllSent())
    Fire(OnDataSent, 0);
}

int64_t TWSocket::Receive(void *buffer, int64_t size) {
  if (fd_ < 0) {
    lastError_ = socketerr::NotConnected;
    return -1;
  }
  if (size <= 0)
    return 0;
  ssize_t received;
  do
    received = recv(fd_, buffer, static_cast<std::size_t>(size), 0);
  while (received < 0 && errno == EINTR);
  if (received > 0)
    readCount_ += received;
  else if (received == 0)
    peerClosed_ = true;
  else
    lastError_ = LastSystemError();
  return received;
}

TSockName TWSocket::GetSockName() {
  return Operation(
      [&] {
        TSocketAddress local;
        local.Length = sizeof local.Storage;
        if (fd_ < 0 || getsockname(fd_, local.Get(), &local.Length) != 0)
          SocketError("getsockname", fd_ < 0 ? socketerr::NotSocket : LastSystemError());
        return TSockName{local.AddressText(), local.Port()};
      },
      TSockName{});
}

void TWSocket::Shutdown(int how) {
  if (fd_ >= 0)
    shutdown(fd_, how == 1 ? SHUT_WR : how == 2 ? SHUT_RDWR : SHUT_RD);
}

void TWSocket::HandleEvents(uint32_t events) {
  Dispatch([&] {
    std::weak_ptr<int> alive = alive_;
    const uint64_t connection = connection_;
    if (state_ == wsListening) {
      Fire(OnSessionAvailable, 0);
      return;
    }
    if (state_ == wsConnecting || state_ == wsOpened) {
      HandleConnectDone();
      if (!StillCurrent(alive, connection) || state_ != wsConnected)
        return;
    }
    if (events & (EventLoop::ioRead | EventLoop::ioError)) {
      ReceiveLoop();
      if (!StillCurrent(alive, connection))
        return;
      int32_t error = 0;
      if (PeerHasClosed(error)) {
        HandleClose(error);
        return;
      }
    }
    if (events & EventLoop::ioWrite) {
      HandleWritable();
      if (!StillCurrent(alive, connection))
        return;
    }
    UpdateWatch();
  });
}

void TWSocket::HandleConnectDone() {
  int pending = 0;
  socklen_t length = sizeof pending;
  if (getsockopt(fd_, SOL_SOCKET, SO_ERROR, &pending, &length) != 0)
    pending = errno;
  const int32_t error = SocketErrorFromErrno(pending);
  std::weak_ptr<int> alive = alive_;
  const uint64_t connection = connection_;
  ChangeState(wsConnected);
  Fire(OnSessionConnected, static_cast<uint16_t>(error));
  if (error != 0 && StillCurrent(alive, connection) && state_ != wsClosed)
    Close();
}

void TWSocket::ReceiveLoop() {
  std::weak_ptr<int> alive = alive_;
  const uint64_t connection = connection_;
  const int64_t countAtStart = readCount_;
  for (int pass = 1;; ++pass) {
    lastError_ = 0;
    if (OnDataAvailable) {
      OnDataAvailable(*this, 0);
      if (!StillCurrent(alive, connection))
        return;
    } else {
      char discarded[1024];
      Receive(discarded, sizeof discarded);
      if (lastError_ == socketerr::WouldBlock)
        lastError_ = 0;
    }
    if (peerClosed_ || (ComponentOptions & wsoNoReceiveLoop) || lastError_ != 0 || RcvdCount() <= 0)
      return;
    // Bounded: a fast peer must not starve timers and other connections; the level-triggered
    // watch reports the rest at the next iteration.
    if (readCount_ - countAtStart >= kReadBudget || pass >= kMaxReceivePasses)
      return;
  }
}

bool TWSocket::PeerHasClosed(int32_t &error) {
  error = 0;
  if (peerClosed_)
    return true;
  if (lastError_ != 0 && lastError_ != socketerr::WouldBlock) {
    error = lastError_;
    return true;
  }
  if (RcvdCount() > 0)
    return false;
  char probe;
  const ssize_t peeked = recv(fd_, &probe, 1, MSG_PEEK | MSG_DONTWAIT);
  if (peeked == 0)
    return true;
  if (peeked < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
    error = LastSystemError();
    return true;
  }
  return false;
}

void TWSocket::HandleClose(int32_t error) {
  std::weak_ptr<int> alive = alive_;
  const uint64_t connection = connection_;
  if (!closeReported_) {
    closeReported_ = true;
    Fire(OnSessionClosed, static_cast<uint16_t>(error));
  }
  if (StillCurrent(alive, connection) && state_ != wsClosed)
    Close();
}

void TWSocket::CloseHandle(bool shutdownFirst) {
  if (fd_ < 0)
    return;
  watch_.stop();
  if (shutdownFirst)
    shutdown(fd_, SHUT_WR);
  // Linux releases the descriptor even when close reports an error, so there is nothing to redo.
  ::close(fd_);
  fd_ = -1;
  ++connection_;
}

void TWSocket::FinishClose() {
  std::weak_ptr<int> alive = alive_;
  const uint64_t connection = connection_;
  ChangeState(wsClosed);
  if (!closeReported_ && !destroying_) {
    closeReported_ = true;
    Fire(OnSessionClosed, 0);
  }
  // A handler that reconnected has new properties that must stay.
  if (!alive.expired() && connection_ == connection && fd_ < 0)
    ResetProperties();
}

void TWSocket::Close() {
  Operation([&] {
    if (fd_ < 0) {
      ChangeState(wsClosed);
      ResetProperties();
      return;
    }
    CloseHandle(true);
    FinishClose();
  });
}

void TWSocket::Abort() {
  Operation([&] {
    CancelDnsLookup();
    queue_.clear();
    if (fd_ < 0) {
      ChangeState(wsClosed);
      ResetProperties();
      return;
    }
    if (state_ == wsConnected) {
      // A zero linger makes the close a reset: the peer learns at once that the transfer ended.
      linger value{1, 0};
      setsockopt(fd_, SOL_SOCKET, SO_LINGER, &value, sizeof value);
    }
    CloseHandle(false);
    FinishClose();
  });
}

void TWSocket::ResetProperties() {
  addr_.Assigned = addr_.Resolved = false;
  port_.Assigned = port_.Resolved = false;
  proto_ = {"tcp", true, false};
  LingerOnOff = wsLingerOn;
  LingerTimeout = 0;
  readCount_ = 0;
  closeReported_ = false;
  peerClosed_ = false;
}

void TWSocket::HandleBackgroundException(const std::exception &error) {
  bool canClose = true;
  if (OnBgException)
    GuardedVoid("TWSocket.OnBgException", [&] { OnBgException(*this, error, canClose); });
  else
    ReportError("TWSocket event handler", error.what());
  if (canClose)
    GuardedVoid("TWSocket.Abort", [&] { Abort(); });
}

} // namespace velmora
