#include "shell/Constants.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

using namespace velmora;

namespace {

// A small German translation; words it lacks come back unchanged, as the translator does.
std::string German(std::string_view english) {
  static const std::map<std::string, std::string, std::less<>> words{
      {"Paused", "Angehalten"},
      {"Downloading", "Lädt herunter"},
      {"Combining files", "Dateien werden zusammengefügt"},
      {"Couldn't login", "Anmeldung fehlgeschlagen"},
      {"Unknown", "Unbekannt"},
      {"Thank you for using", "Danke für die Benutzung von"},
      {"a free download manager that's really good! You can find it at:",
       "ein freier Download-Manager, der wirklich gut ist! Zu finden unter:"},
  };
  const auto found = words.find(english);
  return found == words.end() ? std::string(english) : found->second;
}

TEST(Constants, DefaultVocabularyIsEnglish) {
  const TConstants words;
  EXPECT_EQ(words.Paused, "Paused");
  EXPECT_EQ(words.CouldntConnectToHost, "Couldn't connect to host");
  EXPECT_EQ(words.Hours24, "24 Hours");
  EXPECT_EQ(words.ThankYouGreeting, "Thank you for using Velmora!");
}

TEST(Constants, StatusToEnglishMapsTranslatedWordsBack) {
  const TConstants words = InitTranslatedConstants(German);
  struct Case {
    std::string status, english;
  };
  const Case cases[] = {
      {"Angehalten", "Paused"},
      {"Lädt herunter", "Downloading"},
      {"Anmeldung fehlgeschlagen", "Couldn't login"},
      {"Timeout", "Timeout"}, // untranslated words still are status words
      {"Idle", "Idle"},
      {"Paused", ""}, // the English text is no longer the status word
      {"angehalten", ""},
      {"Dateien werden zusammengefügt (40%)", ""},
      {"Unbekannt", ""}, // a shared word, but no status
      {"", ""},
  };
  for (const Case &c : cases)
    EXPECT_EQ(words.StatusToEnglish(c.status), c.english) << c.status;
}

TEST(Constants, EveryStatusWordRoundTripsThroughEnglish) {
  const TConstants words =
      InitTranslatedConstants([](std::string_view english) { return "<" + std::string(english) + ">"; });
  for (std::string_view english :
       {english::Idle, english::Downloading, english::Done, english::CombiningFiles, english::Paused,
        english::Scheduled, english::Queued, english::ContactingHost, english::GettingFileInfo,
        english::Timeout, english::FileNotFound, english::ResumeIsNotSupported, english::FilesizeMismatch,
        english::CouldntConnectToHost, english::LostConnectionToServer, english::CouldntLogin,
        english::CertificateNotTrusted})
    EXPECT_EQ(words.StatusToEnglish("<" + std::string(english) + ">"), english);
}

TEST(Constants, StatusImageOfStatus) {
  const TConstants words = InitTranslatedConstants(German);
  struct Case {
    std::string status;
    TStatusCode code;
  };
  const Case cases[] = {
      {"Lädt herunter", 6},
      {"Contacting host", 6},
      {"Getting file info", 6},
      {"Done", 8},
      {"Dateien werden zusammengefügt", 8},
      {"Angehalten", 12},
      {"Scheduled", 12}, // a loaded scheduled or queued record shows the paused code
      {"Queued", 12},
      {"Timeout", 10},
      {"Idle", 10},
      {"Paused", 10}, // English text under a German vocabulary is no known status
      {"Dateien werden zusammengefügt (40%)", 10},
      {"", 10},
  };
  for (const Case &c : cases)
    EXPECT_EQ(words.StatusImageOfStatus(c.status), c.code) << c.status;
}

TEST(Constants, GetStatusColorFollowsTheTheme) {
  const TThemeColors theme{1, 2, 3, 4, 5, 6};
  struct Case {
    TStatusCode code;
    TColor color;
  };
  const Case cases[] = {{0, 2}, {6, 2}, {8, 4}, {10, 5}, {12, 3}, {13, 3}, {14, 3}, {7, 6}, {1, 6}, {255, 6}};
  for (const Case &c : cases)
    EXPECT_EQ(GetStatusColor(c.code, theme), c.color) << int(c.code);
  EXPECT_EQ(GetStatusColor(13), 0x008080u);
  EXPECT_EQ(GetStatusColor(7), 0u);
}

TEST(Constants, ThemeDefaults) {
  EXPECT_EQ(kStandardTheme, (TThemeColors{0x80000005, 0xFF0000, 0x008080, 0x008000, 0x0000FF, 0}));
  EXPECT_EQ(kVelmTheme, (TThemeColors{0xF0FBFF, 0x800000, 0x80000011, 0x008000, 0x000080, 0}));
  EXPECT_EQ(kCustomTheme, kStandardTheme);
}

TEST(Constants, BuiltTextsUseTheTranslation) {
  const TConstants words = InitTranslatedConstants(German);
  EXPECT_EQ(words.ThankYouGreeting, "Danke für die Benutzung von Velmora!");
  EXPECT_EQ(
      words.TellAFriendMailLink,
      "mailto:?subject=Velmora&body=Velmora, ein freier Download-Manager, der wirklich gut ist! Zu finden "
      "unter: " +
          std::string(kProductWebSite));
  EXPECT_EQ(words.ContactPageAddress, kContactPage);
  EXPECT_EQ(words.Unknown, "Unbekannt");
}

} // namespace
