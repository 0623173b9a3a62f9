#pragma once

#include <QApplication>

namespace velmora::testing {

// The one application object of the test binary, made on first use. It is never destroyed: at
// exit, after the other statics, Qt's clean-up would touch what is already gone.
inline QApplication &QtApp() {
  static int argc = 1;
  static char name[] = "test_ui";
  static char *argv[] = {name, nullptr};
  static QApplication *application = new QApplication(argc, argv);
  return *application;
}

} // namespace velmora::testing
