#include "integration/RunFile.h"

#include "platform/Process.h"
#include "shell/ReportError.h"

#include <stdexcept>

namespace velmora {

namespace {

void ThrowUnlessStarted(const platform::StartedProgram &started) {
  if (!started)
    throw std::runtime_error(started.error);
}

} // namespace

void RunFile(const std::vector<std::string> &ShellFile) {
  GuardedVoid("procedure RunFile(ShellFile: string);",
              [&] { ThrowUnlessStarted(platform::StartProgram(ShellFile)); });
}

void Callbrowser(const std::string &strURL) {
  GuardedVoid("procedure Callbrowser(strURL: string)",
              [&] { ThrowUnlessStarted(platform::OpenWithDefaultApplication(strURL)); });
}

} // namespace velmora
