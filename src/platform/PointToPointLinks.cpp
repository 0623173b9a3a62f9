#include "platform/PointToPointLinks.h"

#include "platform/FileContents.h"
#include "platform/RunCommand.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <charconv>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace velmora::platform {

namespace {

// nmcli's exit status when NetworkManager is not running.
constexpr int kNetworkManagerNotRunning = 8;
constexpr std::array<std::string_view, 4> kPointToPointTypes = {"gsm", "cdma", "pppoe", "bluetooth"};

std::vector<std::string_view> Lines(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto end = text.find('\n');
    lines.push_back(text.substr(0, end));
    if (end == std::string_view::npos)
      break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

// A pid file holds the process id on its first line.
pid_t PidFromFile(const std::string &path) {
  std::string contents;
  if (!ReadFileContents(path, contents, 64))
    return -1;
  pid_t pid = -1;
  const char *begin = contents.data();
  const auto [end, error] = std::from_chars(begin, begin + contents.size(), pid);
  return error == std::errc() && end != begin && pid > 1 ? pid : -1;
}

} // namespace

bool IsPointToPointType(std::string_view type) {
  for (std::string_view kind : kPointToPointTypes)
    if (type == kind)
      return true;
  return false;
}

std::vector<std::string> SplitTerseLine(std::string_view line) {
  std::vector<std::string> fields(1);
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] == '\\' && i + 1 < line.size()) {
      fields.back() += line[++i];
    } else if (line[i] == ':') {
      fields.emplace_back();
    } else if (line[i] != '\r') {
      fields.back() += line[i];
    }
  }
  return fields;
}

bool LinuxPointToPointLinks::ListConnections(bool activeOnly, std::vector<Connection> &connections,
                                             std::string &error) const {
  std::vector<std::string> command{options_.nmcli, "-t", "-f", "NAME,UUID,TYPE,DEVICE", "connection", "show"};
  if (activeOnly)
    command.push_back("--active");
  const CommandResult result = RunCommand(command, options_.commandTimeoutMs);
  if (!result.started && result.startError == ENOENT)
    return true;
  if (result.started && !result.timedOut && result.exitStatus == kNetworkManagerNotRunning)
    return true;
  if (!result.succeeded()) {
    error = result.failureText(options_.nmcli);
    return false;
  }
  for (std::string_view line : Lines(result.output)) {
    std::vector<std::string> fields = SplitTerseLine(line);
    if (fields.size() != 4 || !IsPointToPointType(fields[2]))
      continue;
    connections.push_back(
        {std::move(fields[0]), std::move(fields[1]), std::move(fields[2]), std::move(fields[3])});
  }
  return true;
}

std::vector<std::string> LinuxPointToPointLinks::PppInterfaces() const {
  std::vector<std::string> interfaces;
  std::error_code error;
  for (const auto &entry : std::filesystem::directory_iterator(options_.sysClassNet, error)) {
    std::string name = entry.path().filename().string();
    if (name.starts_with("ppp"))
      interfaces.push_back(std::move(name));
  }
  std::sort(interfaces.begin(), interfaces.end());
  return interfaces;
}

std::vector<std::string> LinuxPointToPointLinks::EntryNames(std::string &error) {
  std::vector<Connection> connections;
  ListConnections(false, connections, error);
  std::vector<std::string> names;
  names.reserve(connections.size());
  for (Connection &connection : connections)
    names.push_back(std::move(connection.name));
  return names;
}

std::vector<PointToPointLink> LinuxPointToPointLinks::ActiveLinks(std::string &error) {
  std::vector<Connection> connections;
  ListConnections(true, connections, error);
  std::vector<PointToPointLink> links;
  links.reserve(connections.size());
  for (Connection &connection : connections)
    links.push_back({std::move(connection.name), std::move(connection.uuid), std::move(connection.device)});
  // NetworkManager's own ppp interfaces go with its connections; the rest belong to pppd alone.
  for (const std::string &interface : PppInterfaces()) {
    bool managed = false;
    for (const PointToPointLink &link : links)
      managed = managed || link.device == interface;
    if (!managed)
      links.push_back({interface, {}, interface});
  }
  return links;
}

std::string LinuxPointToPointLinks::HangUp(const PointToPointLink &link) {
  if (link.uuid.empty())
    return HangUpPpp(link.device);
  // nmcli waits for the deactivation itself, up to its own time-out.
  const uint32_t waitSeconds = options_.commandTimeoutMs / 2000;
  const CommandResult result =
      RunCommand({options_.nmcli, "-w", std::to_string(waitSeconds), "connection", "down", "uuid", link.uuid},
                 options_.commandTimeoutMs);
  return result.succeeded() ? std::string() : result.failureText(options_.nmcli);
}

std::string LinuxPointToPointLinks::HangUpPpp(const std::string &interface) const {
  const std::string pidFile = options_.runFolder + "/" + interface + ".pid";
  const pid_t pid = PidFromFile(pidFile);
  if (pid < 0)
    return "No pppd process is known for " + interface + " (" + pidFile + ")";
  // A stale pid file may name some other program by now; only pppd is ever signalled.
  std::string name;
  if (!ReadFileContents(options_.procFolder + "/" + std::to_string(pid) + "/comm", name, 64) ||
      name.substr(0, name.find('\n')) != "pppd")
    return "The process " + std::to_string(pid) + " of " + pidFile + " is no pppd";
  if (::kill(pid, SIGTERM) != 0)
    return "Cannot end pppd (" + std::to_string(pid) + ") of " + interface + ": " + std::strerror(errno);
  return {};
}

bool LinuxPointToPointLinks::IsUp(const PointToPointLink &link) {
  if (link.uuid.empty()) {
    std::error_code error;
    return std::filesystem::exists(options_.sysClassNet + "/" + link.device, error);
  }
  std::vector<Connection> connections;
  std::string error;
  if (!ListConnections(true, connections, error))
    return false;
  for (const Connection &connection : connections)
    if (connection.uuid == link.uuid)
      return true;
  return false;
}

} // namespace velmora::platform
