#include "support/ExpectReports.h"

#include <gtest/gtest.h>

// The main of every test binary: GoogleTest with the check for unexpected reports.
int main(int argc, char **argv) {
  ::testing::InitGoogleTest(&argc, argv);
  velmora::testing::InstallReportListener();
  return RUN_ALL_TESTS();
}
