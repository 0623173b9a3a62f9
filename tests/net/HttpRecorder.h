#pragma once

#include "net/HttpProt.h"

#include <string>
#include <vector>

namespace velmora::testing {

// Writes down what a client reports, as one short word per event, and collects the body.
struct HttpRecorder {
  HttpRecorder() = default;
  explicit HttpRecorder(THttpCli &client) { attach(client); }
  HttpRecorder(const HttpRecorder &) = delete;
  HttpRecorder &operator=(const HttpRecorder &) = delete;

  // Starts afresh on another client.
  void attach(THttpCli &client) {
    events.clear();
    body.clear();
    done = 0;
    client.OnHeaderBegin = [this](THttpCli &) { events.push_back("header-begin"); };
    client.OnHeaderEnd = [this](THttpCli &c) {
      events.push_back("header-end " + std::to_string(c.StatusCode()));
    };
    client.OnDocBegin = [this](THttpCli &) { events.push_back("doc-begin"); };
    client.OnDocData = [this](THttpCli &, const char *data, std::size_t length) {
      body.append(data, length);
    };
    client.OnDocEnd = [this](THttpCli &) { events.push_back("doc-end"); };
    client.OnLocationChange = [this](THttpCli &c) { events.push_back("location " + c.Location()); };
    client.OnRequestDone = [this](THttpCli &, THttpRequest, uint16_t error) {
      events.push_back("done " + std::to_string(error));
      ++done;
    };
  }

  std::string transcript() const {
    std::string text;
    for (const std::string &event : events)
      text += (text.empty() ? "" : ", ") + event;
    return text;
  }

  std::vector<std::string> events;
  std::string body;
  int done = 0;
};

} // namespace velmora::testing
