#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmora::platform {

// The two ways Linux lets a process send ICMP echo requests: the unprivileged datagram socket
// (allowed by net.ipv4.ping_group_range) and the raw socket (needs CAP_NET_RAW).
enum class IcmpSocketKind { Datagram, Raw };

struct IcmpEchoRequest {
  uint32_t target = 0; // IPv4 address, network byte order
  uint16_t sequence = 0;
  uint8_t ttl = 64;
  bool dontFragment = false;
  std::string_view data;
  int timeoutMs = 1000;
};

struct IcmpEchoResult {
  enum Outcome { Replied, TimedOut, Failed };
  Outcome outcome = Failed;
  int error = 0; // errno for Failed: the send failed, or the network reported the target unreachable
  uint32_t roundTripMs = 0;
  uint32_t from = 0; // network byte order
  uint16_t dataSize = 0;
  uint8_t ttl = 0; // of the reply, when the socket kind shows it
  uint8_t typeOfService = 0;
};

// One ICMP echo socket, used by one thread at a time. echo() blocks for at most the request's
// time-out and accepts only an echo reply from the target that carries this socket's identifier
// and the request's sequence number.
class IcmpSocket {
public:
  // Opens the first of the kinds the process may open, in the order given.
  explicit IcmpSocket(const std::vector<IcmpSocketKind> &kinds = {IcmpSocketKind::Datagram,
                                                                  IcmpSocketKind::Raw});
  ~IcmpSocket();
  IcmpSocket(const IcmpSocket &) = delete;
  IcmpSocket &operator=(const IcmpSocket &) = delete;

  bool isOpen() const { return fd_ >= 0; }
  IcmpSocketKind kind() const { return kind_; }
  // Why no socket could be opened, naming what the system did not permit.
  const std::string &openError() const { return openError_; }
  int openErrno() const { return openErrno_; }

  IcmpEchoResult echo(const IcmpEchoRequest &request);

private:
  bool open(IcmpSocketKind kind);
  bool prepare(const IcmpEchoRequest &request, IcmpEchoResult &result);
  // Judges one received datagram: true when it settles the echo (a reply or an error report).
  bool judge(const uint8_t *packet, std::size_t length, uint32_t sender, const IcmpEchoRequest &request,
             IcmpEchoResult &result) const;

  int fd_ = -1;
  IcmpSocketKind kind_ = IcmpSocketKind::Datagram;
  uint16_t identifier_ = 0;
  uint32_t connectedTo_ = 0;
  std::string openError_;
  int openErrno_ = 0;
  std::vector<uint8_t> receiveBuffer_;
};

// The Internet checksum of RFC 1071 over data.
uint16_t InternetChecksum(const uint8_t *data, std::size_t length);

} // namespace velmora::platform
