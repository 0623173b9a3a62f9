#include "shell/Constants.h"

#include <array>

namespace velmora {

namespace {

using WordMember = std::string TConstants::*;

struct Word {
  std::string_view english;
  WordMember member;
};

// The status words in the order StatusToEnglish compares them.
constexpr std::array kStatusWords{
    Word{english::Idle, &TConstants::Idle},
    Word{english::Downloading, &TConstants::Downloading},
    Word{english::Done, &TConstants::Done},
    Word{english::CombiningFiles, &TConstants::CombiningFiles},
    Word{english::Paused, &TConstants::Paused},
    Word{english::Scheduled, &TConstants::Scheduled},
    Word{english::Queued, &TConstants::Queued},
    Word{english::ContactingHost, &TConstants::ContactingHost},
    Word{english::GettingFileInfo, &TConstants::GettingFileInfo},
    Word{english::Timeout, &TConstants::Timeout},
    Word{english::FileNotFound, &TConstants::FileNotFound},
    Word{english::ResumeIsNotSupported, &TConstants::ResumeIsNotSupported},
    Word{english::FilesizeMismatch, &TConstants::FilesizeMismatch},
    Word{english::CouldntConnectToHost, &TConstants::CouldntConnectToHost},
    Word{english::LostConnectionToServer, &TConstants::LostConnectionToServer},
    Word{english::CouldntLogin, &TConstants::CouldntLogin},
    Word{english::CertificateNotTrusted, &TConstants::CertificateNotTrusted},
};

constexpr std::array kOtherWords{
    Word{"Yes", &TConstants::Yes},
    Word{"No", &TConstants::No},
    Word{english::Unknown, &TConstants::Unknown},
    Word{"All", &TConstants::All},
    Word{"Categories", &TConstants::Categories},
    Word{"Status", &TConstants::Status},
    Word{"History", &TConstants::History},
    Word{"24 Hours", &TConstants::Hours24},
    Word{"7 Days", &TConstants::Days7},
    Word{"30 Days", &TConstants::Days30},
    Word{"Today", &TConstants::Today},
    Word{"Couldn't write", &TConstants::CouldntWrite},
};

std::string Untranslated(std::string_view text) { return std::string(text); }

} // namespace

TConstants::TConstants() : TConstants(Untranslated) {}

TConstants::TConstants(const TTranslate &translate) {
  for (const Word &word : kStatusWords)
    this->*word.member = translate(word.english);
  for (const Word &word : kOtherWords)
    this->*word.member = translate(word.english);
  const std::string programName(kProgramName);
  ThankYouGreeting = translate("Thank you for using") + " " + programName + "!";
  TellAFriendMailLink = "mailto:?subject=" + programName + "&body=" + programName + ", " +
                        translate("a free download manager that's really good! You can find it at:") + " " +
                        std::string(kProductWebSite);
  ContactPageAddress = kContactPage;
}

TConstants InitTranslatedConstants(const TTranslate &translate) { return TConstants(translate); }

std::string TConstants::StatusToEnglish(std::string_view status) const {
  for (const Word &word : kStatusWords)
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
