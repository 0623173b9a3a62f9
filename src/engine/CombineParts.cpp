#include "engine/CombineParts.h"

#include "platform/CommandArguments.h"
#include "platform/Process.h"
#include "shell/ReportError.h"
#include "store/SettingDefinitions.h"

#include <atomic>
#include <stdexcept>

namespace velmora {

// What the worker and the loop thread share; it outlives whichever of them ends last.
struct TCombineParts::Shared {
  explicit Shared(platform::EventLoop &eventLoop) : loop(eventLoop) {}
  platform::EventLoop &loop;
  std::atomic<bool> cancelled{false};
  TCombineParts *owner = nullptr; // read and cleared on the loop thread only
  TCombineTexts texts;            // fixed before the worker starts
};

std::vector<std::string> VirusCheckCommand(const std::string &AntivirusExecutablePath,
                                           const std::string &AntivirusExecutableParameters,
                                           const std::string &LocalFileName) {
  std::vector<std::string> command{AntivirusExecutablePath};
  for (std::string &parameter : platform::SplitCommandArguments(AntivirusExecutableParameters))
    command.push_back(std::move(parameter));
  command.push_back(LocalFileName);
  return command;
}

TCombineParts::TCombineParts(platform::EventLoop &loop, const TSettingsStore &settings, TRecord record,
                             THandlers handlers)
    : LocalFileName(std::move(record.LocalFileName)), TempFileName(std::move(record.TempFileName)),
      RemoteFileSize(record.RemoteFileSize), settings_(settings), handlers_(std::move(handlers)),
      shared_(std::make_shared<Shared>(loop)) {
  shared_->owner = this;
  shared_->texts = TranslatedTexts(handlers_.Translate);
  worker_ = std::thread(&TCombineParts::Execute, shared_,
                        TPartJoinJob{LocalFileName, TempFileName, RemoteFileSize});
}

TCombineParts::~TCombineParts() {
  shared_->owner = nullptr;
  shared_->cancelled = true;
  // Bounded: the worker stops before its next block.
  worker_.join();
}

TCombineTexts TCombineParts::TranslatedTexts(const TTranslate &translate) {
  TCombineTexts texts;
  if (!translate)
    return texts;
  for (std::string *text : {&texts.CombiningFiles, &texts.CouldntOpen, &texts.CouldntRead,
                            &texts.CouldntWrite, &texts.FilesizeMismatch})
    *text = translate(*text);
  return texts;
}

void TCombineParts::Execute(const std::shared_ptr<Shared> &shared, const TPartJoinJob &job) {
  const auto onPercent = [&shared](int percent) {
    shared->loop.post([shared, percent] {
      if (shared->owner != nullptr)
        shared->owner->UpdateInfo(percent);
    });
  };
  const TCombineOutcome failed{false, shared->texts.CouldntWrite + " " + job.LocalFileName};
  TCombineOutcome outcome = Guarded(
      "procedure TCombineParts.Execute",
      [&] { return JoinParts(job, shared->texts, onPercent, shared->cancelled); }, failed);
  shared->loop.post([shared, outcome = std::move(outcome)] {
    if (shared->owner != nullptr)
      shared->owner->OnTerminateProc(outcome);
  });
}

void TCombineParts::UpdateInfo(int percent) {
  GuardedVoid("procedure TCombineParts.UpdateInfo", [&] {
    if (handlers_.OnStatus)
      handlers_.OnStatus(shared_->texts.CombiningFiles + " (" + std::to_string(percent) + "%)");
  });
}

void TCombineParts::OnTerminateProc(const TCombineOutcome &outcome) {
  GuardedVoid("procedure TCombineParts.OnTerminateProc(Sender: TObject)", [&] {
    if (!outcome.Combined && handlers_.OnMessage)
      handlers_.OnMessage(outcome.Message);
    // Only a joined file is worth checking; a failed join leaves nothing new to scan.
    if (outcome.Combined && ReadSetting(settings_, setting::VirusChecking))
      StartVirusCheck();
    // The handler may release this object; nothing of it is touched after the call.
    const auto onFilesCombined = handlers_.OnFilesCombined;
    if (onFilesCombined)
      onFilesCombined(outcome);
  });
}

void TCombineParts::StartVirusCheck() const {
  const auto started = platform::StartProgram(
      VirusCheckCommand(ReadSetting(settings_, setting::AntivirusExecutablePath),
                        ReadSetting(settings_, setting::AntivirusExecutableParameters), LocalFileName));
  // As with any program started for the user, one that is missing gives no message.
  if (!started)
    ReportError("procedure RunFile(ShellFile: string);", started.error);
}

} // namespace velmora
