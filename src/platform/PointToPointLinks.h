#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace velmora::platform {

// A dial-up style link: a NetworkManager connection of a mobile, PPPoE or Bluetooth kind, or a
// ppp interface that pppd brought up outside NetworkManager.
struct PointToPointLink {
  std::string name;   // the connection's name, or the interface name of a bare ppp link
  std::string uuid;   // the NetworkManager connection; empty for a bare ppp link
  std::string device; // the network interface, when known

  friend bool operator==(const PointToPointLink &, const PointToPointLink &) = default;
};

// The point-to-point links of the machine. Only those links are ever listed or hung up; Ethernet,
// Wi-Fi, VPN and every other kind of connection stay untouched. Every operation may block (it runs
// nmcli or waits for the system), so call them from a worker thread; they may run on several
// threads at once.
class IPointToPointLinks {
public:
  virtual ~IPointToPointLinks() = default;
  // The names of the configured connections of those kinds, active or not; error says why the
  // list could not be read (a machine without NetworkManager simply has none).
  virtual std::vector<std::string> EntryNames(std::string &error) = 0;
  virtual std::vector<PointToPointLink> ActiveLinks(std::string &error) = 0;
  // Ends the link; empty when that was accepted, else why not.
  virtual std::string HangUp(const PointToPointLink &link) = 0;
  virtual bool IsUp(const PointToPointLink &link) = 0;
};

// The Linux links: NetworkManager through nmcli, bare ppp interfaces through /sys/class/net and
// pppd's pid file, which pppd ends on SIGTERM.
class LinuxPointToPointLinks : public IPointToPointLinks {
public:
  struct Options {
    std::string nmcli = "nmcli";
    std::string sysClassNet = "/sys/class/net";
    std::string runFolder = "/run";   // where pppd writes <interface>.pid
    std::string procFolder = "/proc"; // to make sure a pid file still names a pppd
    uint32_t commandTimeoutMs = 20000;
  };

  LinuxPointToPointLinks() : LinuxPointToPointLinks(Options{}) {}
  explicit LinuxPointToPointLinks(Options options) : options_(std::move(options)) {}

  std::vector<std::string> EntryNames(std::string &error) override;
  std::vector<PointToPointLink> ActiveLinks(std::string &error) override;
  std::string HangUp(const PointToPointLink &link) override;
  bool IsUp(const PointToPointLink &link) override;

private:
  struct Connection {
    std::string name, uuid, type, device;
  };
  // False with error set when nmcli failed; a machine without NetworkManager has no connections.
  bool ListConnections(bool activeOnly, std::vector<Connection> &connections, std::string &error) const;
  std::vector<std::string> PppInterfaces() const;
  std::string HangUpPpp(const std::string &interface) const;

  Options options_;
};

// Whether a NetworkManager connection type names a point-to-point kind.
bool IsPointToPointType(std::string_view type);

// The fields of one line of nmcli's terse output, where ":" separates and "\" escapes ":" and "\".
std::vector<std::string> SplitTerseLine(std::string_view line);

} // namespace velmora::platform
