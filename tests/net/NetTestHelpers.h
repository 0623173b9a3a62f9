#pragma once

#include "platform/EventLoop.h"

#include <arpa/inet.h>
#include <cstdint>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

namespace velmora::testing {

// A port on 127.0.0.1 where nothing listens: bound once and released.
inline uint16_t ClosedPort() {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(fd, reinterpret_cast<sockaddr *>(&address), length);
  getsockname(fd, reinterpret_cast<sockaddr *>(&address), &length);
  close(fd);
  return ntohs(address.sin_port);
}

// Bytes that differ at every offset, so a block at the wrong place never passes.
inline std::string PatternBytes(std::size_t length) {
  std::string bytes(length, '\0');
  uint32_t state = 12345;
  for (char &byte : bytes) {
    state = state * 1103515245 + 12345;
    byte = static_cast<char>(state >> 24);
  }
  return bytes;
}

// For the end of a test, once its sockets and clients are destroyed: the notifications their end
// posted drain in one pass, and nothing may stay registered.
inline void ExpectLoopDrained(platform::EventLoop &loop) {
  loop.runOnce(0);
  EXPECT_EQ(loop.registeredCount(), 0u);
}

} // namespace velmora::testing
