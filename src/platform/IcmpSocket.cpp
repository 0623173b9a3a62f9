#include "platform/IcmpSocket.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <random>
#include <sys/socket.h>
#include <unistd.h>

namespace velmora::platform {

namespace {

constexpr uint8_t kEchoReply = 0;
constexpr uint8_t kDestinationUnreachable = 3;
constexpr uint8_t kEchoRequest = 8;
constexpr uint8_t kTimeExceeded = 11;
constexpr std::size_t kIcmpHeaderSize = 8;
constexpr std::size_t kMinIpHeaderSize = 20;
// The largest echo payload an IPv4 datagram can carry with a full IP header and the ICMP header.
constexpr std::size_t kMaxEchoData = 65535 - 60 - kIcmpHeaderSize;
// One datagram at most: anything longer is cut by the kernel and then judged by its header only.
constexpr std::size_t kReceiveBufferSize = 65536;

uint16_t readBigEndian16(const uint8_t *at) { return static_cast<uint16_t>((at[0] << 8) | at[1]); }

void writeBigEndian16(uint8_t *at, uint16_t value) {
  at[0] = static_cast<uint8_t>(value >> 8);
  at[1] = static_cast<uint8_t>(value & 0xff);
}

uint32_t readAddress(const uint8_t *at) {
  uint32_t address = 0;
  std::memcpy(&address, at, sizeof address);
  return address;
}

const char *kindName(IcmpSocketKind kind) {
  return kind == IcmpSocketKind::Datagram ? "an unprivileged ICMP datagram socket" : "a raw ICMP socket";
}

const char *kindRequirement(IcmpSocketKind kind) {
  return kind == IcmpSocketKind::Datagram ? "the process's group within net.ipv4.ping_group_range"
                                          : "the capability CAP_NET_RAW";
}

uint16_t randomIdentifier() {
  std::random_device device;
  return static_cast<uint16_t>(device());
}

int unreachableError(uint8_t type, uint8_t code) {
  if (type == kDestinationUnreachable && code == 0)
    return ENETUNREACH;
  return EHOSTUNREACH;
}

} // namespace

uint16_t InternetChecksum(const uint8_t *data, std::size_t length) {
  uint32_t sum = 0;
  for (std::size_t i = 0; i + 1 < length; i += 2)
    sum += readBigEndian16(data + i);
  if (length % 2 != 0)
    sum += static_cast<uint32_t>(data[length - 1]) << 8;
  while (sum >> 16)
    sum = (sum & 0xffff) + (sum >> 16);
  return static_cast<uint16_t>(~sum);
}

IcmpSocket::IcmpSocket(const std::vector<IcmpSocketKind> &kinds) : receiveBuffer_(kReceiveBufferSize) {
  for (IcmpSocketKind kind : kinds)
    if (open(kind))
      return;
  if (kinds.empty())
    openError_ = "No kind of ICMP socket was asked for";
}

IcmpSocket::~IcmpSocket() {
  if (fd_ >= 0)
    ::close(fd_);
}

bool IcmpSocket::open(IcmpSocketKind kind) {
  const int type = kind == IcmpSocketKind::Datagram ? SOCK_DGRAM : SOCK_RAW;
  const int fd = ::socket(AF_INET, type | SOCK_CLOEXEC, IPPROTO_ICMP);
  if (fd < 0) {
    openErrno_ = errno;
    if (!openError_.empty())
      openError_ += "; ";
    openError_ += std::string("cannot open ") + kindName(kind) + " (" + std::strerror(openErrno_) +
                  "): it needs " + kindRequirement(kind);
    return false;
  }
  if (kind == IcmpSocketKind::Datagram) {
    // Binding to port 0 lets the kernel pick the echo identifier, which it then enforces.
    sockaddr_in local{};
    local.sin_family = AF_INET;
    socklen_t size = sizeof local;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&local), sizeof local) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&local), &size) != 0) {
      openErrno_ = errno;
      openError_ =
          std::string("cannot bind an unprivileged ICMP datagram socket (") + std::strerror(errno) + ")";
      ::close(fd);
      return false;
    }
    identifier_ = ntohs(local.sin_port);
  } else {
    identifier_ = randomIdentifier();
    // A raw socket sees every ICMP message of the host; keep only the kinds an echo can end with.
    icmp_filter filter{};
    filter.data = ~((1u << kEchoReply) | (1u << kDestinationUnreachable) | (1u << kTimeExceeded));
    ::setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof filter);
  }
  fd_ = fd;
  kind_ = kind;
  openError_.clear();
  openErrno_ = 0;
  return true;
}

bool IcmpSocket::prepare(const IcmpEchoRequest &request, IcmpEchoResult &result) {
  const int ttl = request.ttl;
  const int discovery = request.dontFragment ? IP_PMTUDISC_DO : IP_PMTUDISC_DONT;
  if (::setsockopt(fd_, IPPROTO_IP, IP_TTL, &ttl, sizeof ttl) != 0 ||
      ::setsockopt(fd_, IPPROTO_IP, IP_MTU_DISCOVER, &discovery, sizeof discovery) != 0) {
    result.error = errno;
    return false;
  }
  if (kind_ == IcmpSocketKind::Datagram && connectedTo_ != request.target) {
    // A connected datagram socket is told by the kernel when the target is unreachable.
    sockaddr_in peer{};
    peer.sin_family = AF_INET;
    peer.sin_addr.s_addr = request.target;
    if (::connect(fd_, reinterpret_cast<sockaddr *>(&peer), sizeof peer) != 0) {
      result.error = errno;
      return false;
    }
    connectedTo_ = request.target;
  }
  return true;
}

IcmpEchoResult IcmpSocket::echo(const IcmpEchoRequest &request) {
  IcmpEchoResult result;
  if (fd_ < 0) {
    result.error = openErrno_ != 0 ? openErrno_ : EBADF;
    return result;
  }
  if (request.data.size() > kMaxEchoData) {
    result.error = EMSGSIZE;
    return result;
  }
  if (!prepare(request, result))
    return result;

  std::vector<uint8_t> packet(kIcmpHeaderSize + request.data.size());
  packet[0] = kEchoRequest;
  writeBigEndian16(&packet[4], identifier_);
  writeBigEndian16(&packet[6], request.sequence);
  std::memcpy(packet.data() + kIcmpHeaderSize, request.data.data(), request.data.size());
  writeBigEndian16(&packet[2], InternetChecksum(packet.data(), packet.size()));

  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_addr.s_addr = request.target;
  using Clock = std::chrono::steady_clock;
  const Clock::time_point start = Clock::now();
  const Clock::time_point deadline = start + std::chrono::milliseconds(std::max(0, request.timeoutMs));
  if (::sendto(fd_, packet.data(), packet.size(), 0, reinterpret_cast<sockaddr *>(&target), sizeof target) <
      0) {
    result.error = errno;
    return result;
  }

  // Every pass either settles the echo or waits for what is left of the time-out.
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0)
      break;
    pollfd waiting{fd_, POLLIN, 0};
    const int ready = ::poll(&waiting, 1, static_cast<int>(left));
    if (ready < 0 && errno != EINTR) {
      result.error = errno;
      return result;
    }
    if (ready <= 0)
      continue;
    sockaddr_in sender{};
    socklen_t senderSize = sizeof sender;
    const ssize_t received = ::recvfrom(fd_, receiveBuffer_.data(), receiveBuffer_.size(), MSG_DONTWAIT,
                                        reinterpret_cast<sockaddr *>(&sender), &senderSize);
    if (received < 0) {
      if (errno == EAGAIN || errno == EINTR)
        continue;
      result.error = errno; // the kernel's report that the target cannot be reached
      return result;
    }
    if (judge(receiveBuffer_.data(), static_cast<std::size_t>(received), sender.sin_addr.s_addr, request,
              result)) {
      if (result.outcome == IcmpEchoResult::Replied)
        result.roundTripMs = static_cast<uint32_t>(
            std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
      return result;
    }
  }
  result.outcome = IcmpEchoResult::TimedOut;
  return result;
}

bool IcmpSocket::judge(const uint8_t *packet, std::size_t length, uint32_t sender,
                       const IcmpEchoRequest &request, IcmpEchoResult &result) const {
  uint8_t ttl = 0, typeOfService = 0;
  if (kind_ == IcmpSocketKind::Raw) {
    // A raw socket hands over the IP header as well.
    if (length < kMinIpHeaderSize)
      return false;
    const std::size_t headerSize = static_cast<std::size_t>(packet[0] & 0x0f) * 4;
    if (headerSize < kMinIpHeaderSize || length < headerSize + kIcmpHeaderSize)
      return false;
    typeOfService = packet[1];
    ttl = packet[8];
    packet += headerSize;
    length -= headerSize;
  }
  if (length < kIcmpHeaderSize)
    return false;
  const uint8_t type = packet[0];
  if (type == kEchoReply) {
    if (packet[1] != 0 || sender != request.target || readBigEndian16(packet + 4) != identifier_ ||
        readBigEndian16(packet + 6) != request.sequence)
      return false;
    result.outcome = IcmpEchoResult::Replied;
    result.from = sender;
    result.dataSize = static_cast<uint16_t>(length - kIcmpHeaderSize);
    result.ttl = ttl;
    result.typeOfService = typeOfService;
    return true;
  }
  if (kind_ != IcmpSocketKind::Raw || (type != kDestinationUnreachable && type != kTimeExceeded))
    return false;
  // An error report quotes the IP header and the first 8 bytes of the request it is about.
  const uint8_t *quoted = packet + kIcmpHeaderSize;
  const std::size_t quotedLength = length - kIcmpHeaderSize;
  if (quotedLength < kMinIpHeaderSize)
    return false;
  const std::size_t quotedHeaderSize = static_cast<std::size_t>(quoted[0] & 0x0f) * 4;
  if (quotedHeaderSize < kMinIpHeaderSize || quotedLength < quotedHeaderSize + kIcmpHeaderSize ||
      quoted[9] != IPPROTO_ICMP || readAddress(quoted + 16) != request.target)
    return false;
  const uint8_t *quotedEcho = quoted + quotedHeaderSize;
  if (quotedEcho[0] != kEchoRequest || readBigEndian16(quotedEcho + 4) != identifier_ ||
      readBigEndian16(quotedEcho + 6) != request.sequence)
    return false;
  result.outcome = IcmpEchoResult::Failed;
  result.error = unreachableError(type, packet[1]);
  result.from = sender;
  return true;
}

} // namespace velmora::platform
