#include "shell/Constants.h"

#include <array>

namespace velmora {

namespace {

using WordMember = std::string TConstants::*;

struct NamedWord {
  std::string_view english;
  WordMember member;
};

// The status words in the order of TStatusState, which is also the order StatusToEnglish compares
// them in.
constexpr std::array kStatusWords{
    NamedWord{english::Idle, &TConstants::Idle},
    NamedWord{english::Downloading, &TConstants::Downloading},
    NamedWord{english::Done, &TConstants::Done},
    NamedWord{english::CombiningFiles, &TConstants::CombiningFiles},
    NamedWord{english::Paused, &TConstants::Paused},
    NamedWord{english::Scheduled, &TConstants::Scheduled},
    NamedWord{english::Queued, &TConstants::Queued},
    NamedWord{english::ContactingHost, &TConstants::ContactingHost},
    NamedWord{english::GettingFileInfo, &TConstants::GettingFileInfo},
    NamedWord{english::Timeout, &TConstants::Timeout},
    NamedWord{english::FileNotFound, &TConstants::FileNotFound},
    NamedWord{english::ResumeIsNotSupported, &TConstants::ResumeIsNotSupported},
    NamedWord{english::FilesizeMismatch, &TConstants::FilesizeMismatch},
    NamedWord{english::CouldntConnectToHost, &TConstants::CouldntConnectToHost},
    NamedWord{english::LostConnectionToServer, &TConstants::LostConnectionToServer},
    NamedWord{english::CouldntLogin, &TConstants::CouldntLogin},
    NamedWord{english::CertificateNotTrusted, &TConstants::CertificateNotTrusted},
};

static_assert(kStatusWords.size() == static_cast<std::size_t>(TStatusState::OtherError),
              "a status word for every state but OtherError, in the order of the states");

constexpr std::array kOtherWords{
    NamedWord{"Yes", &TConstants::Yes},
    NamedWord{"No", &TConstants::No},
    NamedWord{english::Unknown, &TConstants::Unknown},
    NamedWord{"All", &TConstants::All},
    NamedWord{"Categories", &TConstants::Categories},
    NamedWord{"Status", &TConstants::Status},
    NamedWord{"History", &TConstants::History},
    NamedWord{"24 Hours", &TConstants::Hours24},
    NamedWord{"7 Days", &TConstants::Days7},
    NamedWord{"30 Days", &TConstants::Days30},
    NamedWord{"Today", &TConstants::Today},
    NamedWord{"Couldn't write", &TConstants::CouldntWrite},
    NamedWord{"This download is in use by another Velmora process.", &TConstants::InUseByAnotherProcess},
};

std::string Untranslated(std::string_view text) { return std::string(text); }

} // namespace

TConstants::TConstants() : TConstants(Untranslated) {}

TConstants::TConstants(const TTranslate &translate) {
  for (const NamedWord &word : kStatusWords)
    this->*word.member = translate(word.english);
  for (const NamedWord &word : kOtherWords)
    this->*word.member = translate(word.english);
  const std::string programName(kProgramName);
  ThankYouGreeting = translate("Thank you for using") + " " + programName + "!";
  TellAFriendMailLink = "mailto:?subject=" + programName + "&body=" + programName + ", " +
                        translate("a free download manager that's really good! You can find it at:") + " " +
                        std::string(kProductWebSite);
  ContactPageAddress = kContactPage;
}

TConstants InitTranslatedConstants(const TTranslate &translate) { return TConstants(translate); }

std::string_view EnglishStatusWord(TStatusState state) {
  const auto index = static_cast<std::size_t>(state);
  return index < kStatusWords.size() ? kStatusWords[index].english : std::string_view();
}

TStatusState TConstants::StateOf(std::string_view status) const {
  if (status.empty())
    return TStatusState::Idle;
  for (std::size_t i = 0; i < kStatusWords.size(); ++i)
    if (this->*kStatusWords[i].member == status)
      return static_cast<TStatusState>(i);
  if (!CombiningFiles.empty() && status.starts_with(CombiningFiles))
    return TStatusState::CombiningFiles;
  return TStatusState::OtherError;
}

const std::string &TConstants::Word(TStatusState state) const {
  static const std::string none;
  const auto index = static_cast<std::size_t>(state);
  return index < kStatusWords.size() ? this->*kStatusWords[index].member : none;
}

std::string TConstants::StatusToEnglish(std::string_view status) const {
  for (const NamedWord &word : kStatusWords)
    if (this->*word.member == status)
      return std::string(word.english);
  return {};
}

TStatusCode TConstants::StatusImageOfStatus(std::string_view status) const {
  if (status == Downloading || status == ContactingHost || status == GettingFileInfo)
    return kStatusCodeDownloading;
  if (status == Done || status == CombiningFiles)
    return kStatusCodeDone;
  if (status == Paused || status == Scheduled || status == Queued)
    return kStatusCodePaused;
  return kStatusCodeError;
}

TColor GetStatusColor(TStatusCode statusCode, const TThemeColors &theme) {
  switch (statusCode) {
  case kStatusCodeConnecting:
  case kStatusCodeDownloading:
    return theme.Downloading;
  case kStatusCodeDone:
    return theme.Done;
  case kStatusCodeError:
    return theme.Error;
  case kStatusCodePaused:
  case kStatusCodeScheduled:
  case kStatusCodeQueued:
    return theme.Paused;
  default:
    return theme.Other;
  }
}

} // namespace velmora
