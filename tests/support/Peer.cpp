#include "support/Peer.h"

#include "platform/Tick.h"
#include "support/TempDir.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <grp.h>
#include <netinet/in.h>
#include <pwd.h>
#include <stdexcept>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char **environ;

namespace velmora::testing {

namespace {

constexpr uint32_t kStopDeadlineMs = 5000;
constexpr auto kPollInterval = std::chrono::milliseconds(20);

bool AcceptsConnections(const std::string &host, uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  inet_pton(AF_INET, host.c_str(), &address.sin_addr);
  address.sin_port = htons(port);
  const bool connected = connect(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
  close(fd);
  return connected;
}

// Reaps the child if it has ended; true when it has.
bool Reaped(pid_t pid) {
  int status = 0;
  const pid_t result = waitpid(pid, &status, WNOHANG);
  return result == pid || (result < 0 && errno == ECHILD);
}

void HandOver(const std::filesystem::path &folder, uid_t uid, gid_t gid) {
  lchown(folder.c_str(), uid, gid);
  for (const auto &entry : std::filesystem::recursive_directory_iterator(folder))
    lchown(entry.path().c_str(), uid, gid);
}

} // namespace

uint16_t FreeLoopbackPort() {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (fd < 0 || bind(fd, reinterpret_cast<sockaddr *>(&address), length) != 0 ||
      getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length) != 0) {
    if (fd >= 0)
      close(fd);
    throw std::runtime_error("no free port on 127.0.0.1");
  }
  close(fd);
  return ntohs(address.sin_port);
}

std::string FindProgram(const std::string &name) {
  if (name.find('/') != std::string::npos)
    return name;
  std::string folders = std::getenv("PATH") != nullptr ? std::getenv("PATH") : "";
  folders += ":/usr/sbin:/sbin:/usr/local/sbin";
  std::size_t start = 0;
  while (start <= folders.size()) {
    const std::size_t end = std::min(folders.find(':', start), folders.size());
    const std::filesystem::path candidate = std::filesystem::path(folders.substr(start, end - start)) / name;
    if (end > start && access(candidate.c_str(), X_OK) == 0)
      return candidate.string();
    start = end + 1;
  }
  throw std::runtime_error("peer program '" + name + "' is not installed (see scripts/packages-test.txt)");
}

std::string FillTemplate(std::string text, const std::map<std::string, std::string> &values) {
  for (const auto &[name, value] : values) {
    const std::string placeholder = "{{" + name + "}}";
    for (std::size_t at = text.find(placeholder); at != std::string::npos;
         at = text.find(placeholder, at + value.size()))
      text.replace(at, placeholder.size(), value);
  }
  if (const auto left = text.find("{{"); left != std::string::npos)
    throw std::runtime_error("template placeholder without a value: " + text.substr(left, 40));
  return text;
}

std::string ReadPeerFile(const std::string &name) {
  const std::filesystem::path path = std::filesystem::path(VELMORA_PEERS_DIR) / name;
  if (!std::filesystem::exists(path))
    throw std::runtime_error("missing peer file " + path.string());
  return ReadWholeFile(path);
}

Peer::Peer(PeerOptions options) : options_(std::move(options)) {
  if (options_.command.empty())
    throw std::runtime_error("peer " + options_.name + ": no command");
  const std::string program = FindProgram(options_.command.front());
  std::vector<char *> argv;
  for (std::string &argument : options_.command)
    argv.push_back(argument.data());
  argv.push_back(nullptr);
  std::vector<std::string> environment;
  for (char **entry = environ; *entry != nullptr; ++entry)
    environment.emplace_back(*entry);
  environment.insert(environment.end(), options_.environment.begin(), options_.environment.end());
  std::vector<char *> envp;
  for (std::string &entry : environment)
    envp.push_back(entry.data());
  envp.push_back(nullptr);

  bool dropRoot = false;
  uid_t uid = 0;
  gid_t gid = 0;
  if (geteuid() == 0 && !options_.unprivilegedUser.empty()) {
    const passwd *user = getpwnam(options_.unprivilegedUser.c_str());
    if (user == nullptr)
      throw std::runtime_error("peer " + options_.name + ": no user " + options_.unprivilegedUser);
    uid = user->pw_uid;
    gid = user->pw_gid;
    dropRoot = true;
    HandOver(options_.folder, uid, gid);
  }
  const std::string logPath = (options_.folder / "peer.log").string();
  const int log = open(logPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  const int nothing = open("/dev/null", O_RDONLY | O_CLOEXEC);
  if (log < 0 || nothing < 0)
    throw std::runtime_error("peer " + options_.name + ": cannot open " + logPath);
  if (dropRoot)
    fchown(log, uid, gid);
  const pid_t parent = getpid();

  pid_ = fork();
  if (pid_ == 0) {
    // Only async-signal-safe calls between fork and exec.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent)
      _exit(126);
    dup2(nothing, STDIN_FILENO);
    dup2(log, STDOUT_FILENO);
    dup2(log, STDERR_FILENO);
    if (chdir(options_.folder.c_str()) != 0)
      _exit(125);
    if (dropRoot && (setgroups(0, nullptr) != 0 || setgid(gid) != 0 || setuid(uid) != 0))
      _exit(124);
    execve(program.c_str(), argv.data(), envp.data());
    _exit(127);
  }
  close(log);
  close(nothing);
  if (pid_ < 0)
    throw std::runtime_error("peer " + options_.name + ": fork failed");
  try {
    waitUntilReady();
  } catch (...) {
    stop();
    throw;
  }
}

Peer::~Peer() { stop(); }

std::string Peer::output() const { return ReadWholeFile(options_.folder / "peer.log"); }

void Peer::waitUntilReady() {
  const uint64_t deadline = platform::MonotonicMilliseconds() + options_.readyDeadlineMs;
  while (platform::MonotonicMilliseconds() < deadline) {
    if (Reaped(pid_)) {
      pid_ = -1;
      throw std::runtime_error("peer " + options_.name + " ended at start:\n" + output());
    }
    if (AcceptsConnections(options_.address, options_.port))
      return;
    std::this_thread::sleep_for(kPollInterval);
  }
  throw std::runtime_error("peer " + options_.name + " did not accept connections on port " +
                           std::to_string(options_.port) + ":\n" + output());
}

void Peer::stop() {
  if (pid_ <= 0)
    return;
  kill(pid_, SIGTERM);
  const uint64_t deadline = platform::MonotonicMilliseconds() + kStopDeadlineMs;
  while (!Reaped(pid_)) {
    if (platform::MonotonicMilliseconds() >= deadline) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid_ = -1;
}

} // namespace velmora::testing
