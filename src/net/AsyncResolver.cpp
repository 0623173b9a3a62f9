#include "net/AsyncResolver.h"

#include "net/SocketErrors.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <sys/socket.h>
#include <thread>

namespace velmora {

struct TAsyncLookup::Shared {
  std::mutex mutex;
  platform::EventLoop *loop; // null once cancelled: the thread then posts nothing
  Done done;
};

TDnsAnswer LookupHost(const std::string &host) {
  addrinfo hints{};
  hints.ai_family = AF_INET;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo *found = nullptr;
  errno = 0;
  const int result = getaddrinfo(host.c_str(), nullptr, &hints, &found);
  TDnsAnswer answer;
  answer.Error = SocketErrorFromResolver(result, errno);
  for (addrinfo *entry = found; result == 0 && entry != nullptr; entry = entry->ai_next) {
    if (entry->ai_family != AF_INET)
      continue;
    sockaddr_in address{};
    std::memcpy(&address, entry->ai_addr, sizeof address);
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &address.sin_addr, text, sizeof text);
    answer.Addresses.emplace_back(text);
  }
  if (found != nullptr)
    freeaddrinfo(found);
  if (answer.Error == 0 && answer.Addresses.empty())
    answer.Error = socketerr::NoData;
  return answer;
}

TAsyncLookup::TAsyncLookup(platform::EventLoop &loop, std::string host, Done done)
    : shared_(std::make_shared<Shared>()) {
  shared_->loop = &loop;
  shared_->done = std::move(done);
  std::thread([shared = shared_, host = std::move(host)] {
    TDnsAnswer answer = LookupHost(host);
    std::lock_guard lock(shared->mutex);
    if (shared->loop == nullptr)
      return;
    shared->loop->post([shared, answer = std::move(answer)]() mutable {
      Done callback;
      {
        std::lock_guard inner(shared->mutex);
        if (shared->loop == nullptr)
          return;
        shared->loop = nullptr;
        callback = std::move(shared->done);
      }
      callback(std::move(answer));
    });
  }).detach();
}

TAsyncLookup::~TAsyncLookup() { Cancel(); }

void TAsyncLookup::Cancel() {
  std::lock_guard lock(shared_->mutex);
  shared_->loop = nullptr;
  shared_->done = nullptr;
}

} // namespace velmora
