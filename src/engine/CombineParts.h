#pragma once

#include "engine/PartJoin.h"
#include "platform/EventLoop.h"
#include "shell/Constants.h"
#include "store/Registry.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace velmora {

// The virus checker's argument vector: the program, its parameters split like shell words without
// any expansion (platform/CommandArguments.h), and the joined file as one last argument.
std::vector<std::string> VirusCheckCommand(const std::string &AntivirusExecutablePath,
                                           const std::string &AntivirusExecutableParameters,
                                           const std::string &LocalFileName);

// Joins the part files of one download into its final file on a worker thread (see JoinParts),
// started at construction. Everything it reports runs on the loop thread, in this order: the status
// texts "Combining files (N%)" whenever the rounded percentage changes; at the end, when the join
// failed, OnMessage with the message for the user; when it succeeded and the setting VirusChecking
// (section "Options", read then, like AntivirusExecutablePath and AntivirusExecutableParameters) is
// on, the virus checker is started without waiting; then OnFilesCombined. The worker never waits
// for the loop. Destroying the object stops the join before its next block, leaving the part files
// and any earlier final file as they were, and no handler runs afterwards; to destroy it from
// inside OnFilesCombined, hand it to EventLoop::releaseLater.
class TCombineParts {
public:
  struct TRecord {
    std::string LocalFileName;
    std::string TempFileName;
    int64_t RemoteFileSize = -1; // -1: the server sent no length
  };
  struct THandlers {
    std::function<void(const std::string &status)> OnStatus;
    std::function<void(const std::string &message)> OnMessage;
    std::function<void(const TCombineOutcome &outcome)> OnFilesCombined;
    TTranslate Translate; // English in, the user's language out; English when not set
  };

  TCombineParts(platform::EventLoop &loop, const TSettingsStore &settings, TRecord record,
                THandlers handlers);
  ~TCombineParts();
  TCombineParts(const TCombineParts &) = delete;
  TCombineParts &operator=(const TCombineParts &) = delete;

  const std::string LocalFileName;
  const std::string TempFileName;
  const int64_t RemoteFileSize;

private:
  struct Shared;

  void UpdateInfo(int percent);
  void OnTerminateProc(const TCombineOutcome &outcome);
  void StartVirusCheck() const;
  static TCombineTexts TranslatedTexts(const TTranslate &translate);
  static void Execute(const std::shared_ptr<Shared> &shared, const TPartJoinJob &job);

  const TSettingsStore &settings_;
  THandlers handlers_;
  std::shared_ptr<Shared> shared_;
  std::thread worker_;
};

} // namespace velmora
