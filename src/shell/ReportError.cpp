#include "shell/ReportError.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <exception>
#include <mutex>
#include <string>

namespace velmora {

namespace {

bool debugReports() noexcept {
  const char *value = std::getenv("VELMORA_DEBUG");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

struct TReportRecord {
  std::mutex Lock;
  uint64_t Count = 0;
  std::deque<std::string> Last;
};

TReportRecord &Record() noexcept {
  static TReportRecord record;
  return record;
}

void Remember(std::string_view operation, std::string_view detail) noexcept {
  TReportRecord &record = Record();
  const std::lock_guard<std::mutex> hold(record.Lock);
  ++record.Count;
  try {
    std::string text(operation);
    if (!detail.empty())
      text.append(": ").append(detail);
    if (record.Last.size() == kKeptReports)
      record.Last.pop_front();
    record.Last.push_back(std::move(text));
  } catch (...) {
    // Out of memory: the count still tells that a report was made.
  }
}

} // namespace

uint64_t ReportCount() noexcept {
  TReportRecord &record = Record();
  const std::lock_guard<std::mutex> hold(record.Lock);
  return record.Count;
}

std::vector<std::string> RecentReports() {
  TReportRecord &record = Record();
  const std::lock_guard<std::mutex> hold(record.Lock);
  return {record.Last.begin(), record.Last.end()};
}

void ReportError(std::string_view operation, std::string_view detail) noexcept {
  Remember(operation, detail);
  if (!debugReports())
    return;
  if (detail.empty())
    std::fprintf(stderr, "velmora: error in %.*s\n", static_cast<int>(operation.size()), operation.data());
  else
    std::fprintf(stderr, "velmora: error in %.*s: %.*s\n", static_cast<int>(operation.size()),
                 operation.data(), static_cast<int>(detail.size()), detail.data());
}

void ReportError(std::string_view operation) noexcept { ReportError(operation, {}); }

void DebugNote(std::string_view where, std::string_view detail) noexcept {
  if (debugReports())
    std::fprintf(stderr, "velmora: %.*s: %.*s\n", static_cast<int>(where.size()), where.data(),
                 static_cast<int>(detail.size()), detail.data());
}

void detail::ReportCurrentException(std::string_view operation) noexcept {
  try {
    throw;
  } catch (const std::exception &error) {
    ReportError(operation, error.what());
  } catch (...) {
    ReportError(operation, "unknown failure");
  }
}

} // namespace velmora
