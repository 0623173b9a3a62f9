// Downloads one address with THttpCli into a file, as "curl -o" would, and prints the bytes
// received and the seconds taken: bench_http_get <url> <output file>
#include "net/HttpProt.h"
#include "platform/Tick.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <stdexcept>
#include <string>
#include <unistd.h>

namespace {

class FileStream final : public velmora::TReceiveStream {
public:
  explicit FileStream(const char *path) : fd_(open(path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644)) {
    if (fd_ < 0)
      throw std::runtime_error(std::string("cannot create ") + path);
  }
  ~FileStream() override { close(fd_); }

  void Write(const char *data, std::size_t length) override {
    while (length > 0) {
      const ssize_t written = write(fd_, data, length);
      if (written < 0 && errno == EINTR)
        continue;
      if (written <= 0)
        throw std::runtime_error("write failed");
      data += written;
      length -= static_cast<std::size_t>(written);
    }
  }

private:
  int fd_;
};

} // namespace

int main(int argc, char **argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: %s <url> <output file>\n", argv[0]);
    return 2;
  }
  try {
    velmora::platform::EventLoop loop;
    FileStream file(argv[2]);
    velmora::THttpCli client(loop);
    uint16_t result = 0;
    client.URL = argv[1];
    client.ReceiveStream = &file;
    client.OnRequestDone = [&](velmora::THttpCli &, velmora::THttpRequest, uint16_t error) {
      result = error;
      loop.stop();
    };
    const uint64_t start = velmora::platform::MonotonicMilliseconds();
    client.StartGet();
    loop.run();
    const uint64_t elapsed = velmora::platform::MonotonicMilliseconds() - start;
    if (result != 0 || client.StatusCode() != 200) {
      std::fprintf(stderr, "failed: %d %s\n", result, client.ReasonPhrase().c_str());
      return 1;
    }
    std::printf("%lld bytes in %.3f s\n", static_cast<long long>(client.BodyCount()),
                static_cast<double>(elapsed) / 1000.0);
    return 0;
  } catch (const std::exception &error) {
    std::fprintf(stderr, "%s\n", error.what());
    return 1;
  }
}
