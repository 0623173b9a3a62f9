#pragma once

#include <string>

namespace velmora::testing {

// A network namespace of the test's own, with its loopback up, deleted again on destruction. It
// keeps a test's traffic off the host's networks: what is sent inside stays inside. Needs root
// (CAP_SYS_ADMIN) and iproute2; error() says what was missing when it could not be made.
class NetworkNamespace {
public:
  NetworkNamespace();
  ~NetworkNamespace();
  NetworkNamespace(const NetworkNamespace &) = delete;
  NetworkNamespace &operator=(const NetworkNamespace &) = delete;

  bool created() const { return created_; }
  const std::string &error() const { return error_; }
  const std::string &name() const { return name_; }

  // Writes value into /proc/sys/<key path> as seen inside the namespace, e.g.
  // setSysctl("net/ipv4/icmp_echo_ignore_all", "1").
  bool setSysctl(const std::string &keyPath, const std::string &value);

private:
  bool run(const std::string &command);

  std::string name_;
  bool created_ = false;
  std::string error_;
};

// Moves the calling thread into the namespace while it lives; threads it starts meanwhile stay in
// the namespace for their whole life.
class EnteredNamespace {
public:
  explicit EnteredNamespace(const NetworkNamespace &space);
  ~EnteredNamespace();
  EnteredNamespace(const EnteredNamespace &) = delete;
  EnteredNamespace &operator=(const EnteredNamespace &) = delete;

  bool entered() const { return entered_; }
  const std::string &error() const { return error_; }

private:
  int original_ = -1;
  bool entered_ = false;
  std::string error_;
};

} // namespace velmora::testing
