#include "shell/ReportError.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <string>

namespace velmora {

namespace {

bool debugReports() noexcept {
  const char *value = std::getenv("VELMORA_DEBUG");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

} // namespace

void ReportError(std::string_view operation, std::string_view detail) noexcept {
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
