#include "platform/InstanceChannel.h"

#include "platform/Tick.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>
#include <utility>

namespace velmora::platform {

namespace {

constexpr char kMagic[4] = {'V', 'L', 'M', 'R'};
constexpr unsigned char kVersion = 1;
constexpr std::size_t kHeader = sizeof kMagic + 1;

void PutLength(std::string &out, uint32_t n) {
  for (int shift = 24; shift >= 0; shift -= 8)
    out.push_back(static_cast<char>((n >> shift) & 0xFF));
}

bool GetLength(const std::string &in, std::size_t at, uint32_t &n) {
  if (in.size() < at + 4)
    return false;
  n = 0;
  for (std::size_t i = 0; i < 4; ++i)
    n = (n << 8) | static_cast<unsigned char>(in[at + i]);
  return true;
}

std::string Reason(const std::string &what, int error) { return what + ": " + std::strerror(error); }

class Descriptor {
public:
  explicit Descriptor(int fd = -1) : fd_(fd) {}
  ~Descriptor() { reset(); }
  Descriptor(const Descriptor &) = delete;
  Descriptor &operator=(const Descriptor &) = delete;
  int get() const { return fd_; }
  int release() { return std::exchange(fd_, -1); }
  void reset(int fd = -1) {
    if (fd_ >= 0)
      ::close(fd_);
    fd_ = fd;
  }

private:
  int fd_;
};

bool SocketAddress(const std::string &path, sockaddr_un &address) {
  address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof address.sun_path)
    return false;
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  return true;
}

// Waits for the descriptor within the deadline; false when it passed.
bool WaitFor(int fd, short events, uint32_t start, uint32_t limitMs) {
  for (;;) {
    const uint32_t spent = GetTickCount() - start;
    if (spent >= limitMs)
      return false;
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, static_cast<int>(limitMs - spent));
    if (ready > 0)
      return true;
    if (ready < 0 && errno != EINTR)
      return false;
  }
}

// Sends the frame and waits for the one-byte answer; empty when it came and was 1.
std::string HandOver(int fd, const std::string &frame, uint32_t answerMs) {
  const uint32_t start = GetTickCount();
  std::size_t sent = 0;
  while (sent < frame.size()) {
    const ssize_t n = ::send(fd, frame.data() + sent, frame.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      sent += static_cast<std::size_t>(n);
    } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
      if (!WaitFor(fd, POLLOUT, start, answerMs))
        return "the running copy did not take the hand-over within 5 s";
    } else {
      return Reason("the hand-over to the running copy failed", errno);
    }
  }
  char answer = 0;
  for (;;) {
    if (!WaitFor(fd, POLLIN, start, answerMs))
      return "the running copy did not answer within 5 s";
    const ssize_t n = ::recv(fd, &answer, 1, MSG_DONTWAIT);
    if (n == 1)
      return answer == 1 ? std::string() : "the running copy refused the hand-over";
    if (n == 0)
      return "the running copy closed the hand-over without an answer";
    if (errno != EAGAIN && errno != EINTR)
      return Reason("the hand-over to the running copy failed", errno);
  }
}

} // namespace

std::string EncodeInstanceMessage(const InstanceMessage &message) {
  std::string frame(kMagic, sizeof kMagic);
  frame.push_back(static_cast<char>(kVersion));
  if (kHeader + 8 + message.Argument.size() + message.ActivationToken.size() > kInstanceMessageLimit)
    return {};
  PutLength(frame, static_cast<uint32_t>(message.Argument.size()));
  frame += message.Argument;
  PutLength(frame, static_cast<uint32_t>(message.ActivationToken.size()));
  frame += message.ActivationToken;
  return frame;
}

FrameProgress CheckInstanceFrame(const std::string &bytes) {
  const std::size_t known = std::min(bytes.size(), kHeader);
  if (std::memcmp(bytes.data(), kMagic, std::min(known, sizeof kMagic)) != 0 ||
      (known == kHeader && static_cast<unsigned char>(bytes[sizeof kMagic]) != kVersion))
    return FrameProgress::Invalid;
  std::size_t at = kHeader;
  for (int text = 0; text < 2; ++text) {
    uint32_t length = 0;
    if (!GetLength(bytes, at, length))
      return bytes.size() > kInstanceMessageLimit ? FrameProgress::Invalid : FrameProgress::Incomplete;
    at += 4;
    if (length > kInstanceMessageLimit || at + length > kInstanceMessageLimit)
      return FrameProgress::Invalid;
    at += length;
  }
  if (bytes.size() > at)
    return FrameProgress::Invalid;
  return bytes.size() == at ? FrameProgress::Complete : FrameProgress::Incomplete;
}

bool DecodeInstanceMessage(const std::string &frame, InstanceMessage &message) {
  if (CheckInstanceFrame(frame) != FrameProgress::Complete)
    return false;
  uint32_t length = 0;
  GetLength(frame, kHeader, length);
  std::string argument = frame.substr(kHeader + 4, length);
  std::size_t at = kHeader + 4 + length;
  GetLength(frame, at, length);
  message.ActivationToken = frame.substr(at + 4, length);
  if (const std::size_t nul = argument.find('\0'); nul != std::string::npos)
    argument.resize(nul);
  if (const std::size_t nul = message.ActivationToken.find('\0'); nul != std::string::npos)
    message.ActivationToken.resize(nul);
  message.Argument = std::move(argument);
  return true;
}

std::string EnsurePrivateFolder(const std::string &folder) {
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
    return Reason("cannot create the runtime folder " + folder, errno);
  struct stat status {};
  if (::lstat(folder.c_str(), &status) != 0)
    return Reason("cannot examine the runtime folder " + folder, errno);
  if (S_ISLNK(status.st_mode))
    return "the runtime folder " + folder + " is a symbolic link";
  if (!S_ISDIR(status.st_mode))
    return "the runtime folder " + folder + " is not a folder";
  if (status.st_uid != ::getuid())
    return "the runtime folder " + folder + " belongs to another user";
  if ((status.st_mode & 077) != 0)
    return "the runtime folder " + folder + " is open to other users (it must be mode 0700)";
  return {};
}

struct InstanceListener::Connection {
  Connection(EventLoop &loop, int descriptor) : fd(descriptor), watch(loop), timer(loop) {}
  ~Connection() { ::close(fd); }
  int fd;
  LoopWatch watch;
  LoopTimer timer;
  std::string bytes;
};

InstanceListener::InstanceListener(EventLoop &loop, int listenFd, std::string socketFile, Limits limits)
    : loop_(loop), fd_(listenFd), socketFile_(std::move(socketFile)), limits_(limits), watch_(loop) {
  watch_.start(fd_, EventLoop::ioRead, [this](uint32_t) { Accept(); });
}

InstanceListener::~InstanceListener() {
  connections_.clear();
  watch_.stop();
  ::unlink(socketFile_.c_str());
  ::close(fd_);
}

void InstanceListener::SetHandler(std::function<void(const InstanceMessage &)> handler) {
  handler_ = std::move(handler);
  if (!handler_ || queued_.empty())
    return;
  loop_.post([this] {
    while (handler_ && !queued_.empty()) {
      InstanceMessage message = std::move(queued_.front());
      queued_.pop_front();
      handler_(message);
    }
  });
}

void InstanceListener::Accept() {
  for (;;) {
    const int client = ::accept4(fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (client < 0)
      return;
    ucred peer{};
    socklen_t size = sizeof peer;
    if (::getsockopt(client, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != ::getuid() ||
        connections_.size() >= limits_.MaxConnections) {
      ::close(client);
      continue;
    }
    auto connection = std::make_unique<Connection>(loop_, client);
    Connection &added = *connection;
    connections_.push_back(std::move(connection));
    added.watch.start(client, EventLoop::ioRead, [this, &added](uint32_t) { Read(added); });
    added.timer.start(limits_.ReadTimeoutMs, false, [this, &added] { Drop(added); });
  }
}

void InstanceListener::Read(Connection &connection) {
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::recv(connection.fd, buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR)
      continue;
    if (n < 0 && errno == EAGAIN)
      return;
    if (n <= 0) {
      Drop(connection);
      return;
    }
    connection.bytes.append(buffer, static_cast<std::size_t>(n));
    const FrameProgress progress = CheckInstanceFrame(connection.bytes);
    if (progress == FrameProgress::Invalid) {
      Drop(connection);
      return;
    }
    if (progress == FrameProgress::Complete) {
      InstanceMessage message;
      DecodeInstanceMessage(connection.bytes, message);
      const char answer = 1;
      (void)::send(connection.fd, &answer, 1, MSG_NOSIGNAL | MSG_DONTWAIT);
      Drop(connection);
      Deliver(std::move(message));
      return;
    }
  }
}

void InstanceListener::Drop(Connection &connection) {
  connection.watch.stop();
  connection.timer.stop();
  auto found = std::find_if(connections_.begin(), connections_.end(),
                            [&](const auto &held) { return held.get() == &connection; });
  if (found == connections_.end())
    return;
  loop_.releaseLater(std::move(*found));
  connections_.erase(found);
}

void InstanceListener::Deliver(InstanceMessage message) {
  if (handler_) {
    handler_(message);
    return;
  }
  if (queued_.size() < limits_.MaxQueued)
    queued_.push_back(std::move(message));
}

InstanceStart StartInstance(EventLoop &loop, const std::string &runtimeFolder, const InstanceMessage &message,
                            InstanceTimeouts timeouts, InstanceListener::Limits limits) {
  InstanceStart start;
  if (std::string refused = EnsurePrivateFolder(runtimeFolder); !refused.empty()) {
    start.Error = refused;
    return start;
  }
  const std::string lockFile = runtimeFolder + "/instance.lock";
  Descriptor lock(::open(lockFile.c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600));
  if (lock.get() < 0) {
    start.Error = Reason("cannot open " + lockFile, errno);
    return start;
  }
  const uint32_t lockStart = GetTickCount();
  while (::flock(lock.get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) {
      start.Error = Reason("cannot lock " + lockFile, errno);
      return start;
    }
    if (GetTickCount() - lockStart >= timeouts.LockMs) {
      start.Error = "another copy held " + lockFile + " for 5 s; nothing was handed over";
      return start;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  const std::string socketFile = runtimeFolder + "/instance.sock";
  sockaddr_un address{};
  if (!SocketAddress(socketFile, address)) {
    start.Error = "the runtime folder's path is too long for a socket: " + socketFile;
    return start;
  }
  Descriptor peer(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (peer.get() < 0) {
    start.Error = Reason("cannot create a socket", errno);
    return start;
  }
  if (::connect(peer.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) == 0) {
    const std::string frame = EncodeInstanceMessage(message);
    start.Error = frame.empty() ? "the argument is too long to hand over to the running copy"
                                : HandOver(peer.get(), frame, timeouts.AnswerMs);
    start.Role = start.Error.empty() ? InstanceRole::HandedOver : InstanceRole::Failed;
    return start; // the lock goes with its descriptor
  }
  // Nobody listens: a socket left by a copy that was killed is removed.
  ::unlink(socketFile.c_str());
  peer.reset(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (peer.get() < 0 ||
      ::bind(peer.get(), reinterpret_cast<const sockaddr *>(&address), sizeof address) != 0 ||
      ::listen(peer.get(), 16) != 0) {
    start.Error = Reason("cannot listen on " + socketFile, errno);
    return start;
  }
  start.Listener = std::make_unique<InstanceListener>(loop, peer.release(), socketFile, limits);
  start.Role = InstanceRole::Alone;
  return start;
}

} // namespace velmora::platform
