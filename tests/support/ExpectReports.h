#pragma once

#include <cstdint>

namespace velmora::testing {

// Every test binary fails a test during which the code made a report (a failure absorbed by a
// Guarded body) that the test did not expect. A test that provokes reports on purpose holds
// one of these over the provoking lines: the reports made while it lives are expected.
class ExpectReports {
public:
  ExpectReports();
  ~ExpectReports();
  ExpectReports(const ExpectReports &) = delete;
  ExpectReports &operator=(const ExpectReports &) = delete;

private:
  uint64_t start_;
};

// Installs the listener that checks each test's reports; the test binaries' main calls it.
void InstallReportListener();

} // namespace velmora::testing
