#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

namespace velmora {

// Takes the text of an operation whose body failed and returns at once; any thread may call
// it. With VELMORA_DEBUG=1 the report goes to standard error. The last reports are kept in
// memory only, so that tests notice a failure nobody expected.
void ReportError(std::string_view operation) noexcept;
void ReportError(std::string_view operation, std::string_view detail) noexcept;

// How many reports this process has made so far.
uint64_t ReportCount() noexcept;
// The texts ("operation: detail") of the last reports, oldest first; at most kKeptReports.
constexpr size_t kKeptReports = 64;
std::vector<std::string> RecentReports();

// Tells what went wrong outside the program (a server's broken reply, a full disk) where the
// user's message has no room for the detail; only with VELMORA_DEBUG=1, on standard error. It is
// no report of a failure of the program's own.
void DebugNote(std::string_view where, std::string_view detail) noexcept;

namespace detail {
void ReportCurrentException(std::string_view operation) noexcept;
}

// The catch-all at the boundary of an operation: runs body, and when it throws, reports the
// operation and returns fallback (the empty value of the result type unless given).
template <class Body, class Result = std::invoke_result_t<Body>>
Result Guarded(std::string_view operation, Body &&body, Result fallback = Result{}) noexcept
    requires(!std::is_void_v<Result>) {
  try {
    return std::forward<Body>(body)();
  } catch (...) {
    detail::ReportCurrentException(operation);
    return fallback;
  }
}

// The catch-all for an operation without a result: the rest of the body is skipped. Returns
// whether the body completed.
template <class Body>
bool GuardedVoid(std::string_view operation,
                 Body &&body) noexcept requires std::is_void_v<std::invoke_result_t<Body>> {
  try {
    std::forward<Body>(body)();
    return true;
  } catch (...) {
    detail::ReportCurrentException(operation);
    return false;
  }
}

} // namespace velmora
