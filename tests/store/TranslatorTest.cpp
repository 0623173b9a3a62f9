#include "store/Translator.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <set>

using namespace velmora;
using velmora::platform::SettingsDatabase;
using velmora::testing::TempDir;
using velmora::testing::WriteWholeFile;

namespace {

const char *kFile = "language=Deutsch\r\n"
                    "# FILE INFO END\r\n"
                    "Ready\r\n"
                    "  Bereit  \r\n"
                    "Blank follows\r\n"
                    "   \r\n"
                    "Bereit\r\n"
                    "Fertig\r\n"
                    "Ready\r\n"
                    "Second match never used\r\n"
                    "\r\n"
                    "after empty line\r\n"
                    "Last line";

TEST(Translator, LookupRules) {
  TempDir dir;
  WriteWholeFile(dir.file("de.vmt"), kFile);
  TTranslator translator(dir.path().string());
  EXPECT_EQ(translator.Translate("Ready"), "Ready") << "nothing loaded yet";
  ASSERT_TRUE(translator.LoadTranslation("de.vmt"));
  const std::pair<const char *, const char *> cases[] = {
      {"Ready", "Bereit"},                      // trimmed, first match wins
      {"READY", "Bereit"},                      // without regard to case
      {"Blank follows", "Blank follows"},       // a blank translation keeps the text
      {"Bereit", "Fertig"},                     // any body line matches, not only the English ones
      {"Last line", "Last line"},               // nothing follows
      {"Not there", "Not there"},               // no match
      {"", ""},                                 // an empty text is never looked up
      {"language=Deutsch", "language=Deutsch"}, // header lines are no body
  };
  for (const auto &[text, expected] : cases)
    EXPECT_EQ(translator.Translate(text), expected) << text;
}

TEST(Translator, HeaderRules) {
  const struct {
    const char *name;
    const char *text;
    const char *language, *author, *email, *date, *comment;
    std::size_t bodyLines;
  } cases[] = {
      {"keys in any case",
       "LANGUAGE=Deutsch\nAuthor=A\nEMail=e@x\ndate=2004\nComment=c\n# file info end\nx\ny\n", "Deutsch", "A",
       "e@x", "2004", "c", 2},
      {"blanks before the key", "  author=Some One\n# FILE INFO END\n", "", "Some One", "", "", "", 0},
      {"rest of the line", "# language=Deutsch author=Me\n# FILE INFO END\n", "Deutsch author=Me", "Me", "",
       "", "", 0},
      {"later line wins", "language=A\nlanguage=B\n# FILE INFO END\n", "B", "", "", "", "", 0},
      {"no marker: all body", "language=Deutsch\nDone\nFertig\n", "", "", "", "", "", 3},
      {"marker needs the whole line", "language=X\n # FILE INFO END\n", "", "", "", "", "", 2},
      {"header up to the last marker", "# FILE INFO END\nlanguage=Z\n# FILE INFO END\nA\n", "Z", "", "", "",
       "", 1},
      {"byte-order mark", "\xEF\xBB\xBFlanguage=Deutsch\r# FILE INFO END\rA\rB", "Deutsch", "", "", "", "",
       2},
  };
  for (const auto &c : cases) {
    const TTranslation t = TTranslation::FromText(c.text, "/f.vmt");
    EXPECT_EQ(t.Language, c.language) << c.name;
    EXPECT_EQ(t.Author, c.author) << c.name;
    EXPECT_EQ(t.Email, c.email) << c.name;
    EXPECT_EQ(t.Date, c.date) << c.name;
    EXPECT_EQ(t.Comment, c.comment) << c.name;
    EXPECT_EQ(t.Lines.size(), c.bodyLines) << c.name;
  }
}

TEST(Translator, LoadingKeepsTheCurrentOneWhenTheFileIsMissing) {
  TempDir dir;
  WriteWholeFile(dir.file("de.vmt"), "# FILE INFO END\nYes\nJa\n");
  TTranslator translator(dir.path().string());
  ASSERT_TRUE(translator.LoadTranslation("de.vmt"));
  EXPECT_FALSE(translator.LoadTranslation("fr.vmt"));
  EXPECT_FALSE(translator.LoadTranslation(""));
  EXPECT_EQ(translator.Translate("yes"), "Ja");
  EXPECT_EQ(translator.Translation()->FileName, dir.path().string() + "/de.vmt");

  std::filesystem::create_directory(dir.path() / "unreadable.vmt");
  EXPECT_FALSE(translator.LoadTranslation("unreadable.vmt")) << "a folder is no translation file";
}

TEST(Translator, FolderIsCreatedAndListed) {
  TempDir dir;
  const std::string folder = dir.file("Translations");
  TTranslator translator(folder);
  EXPECT_EQ(translator.Folder(), folder + "/");
  EXPECT_TRUE(std::filesystem::is_directory(folder));
  WriteWholeFile(folder + "/nl.vmt", "language=Nederlands\n# FILE INFO END\n");
  WriteWholeFile(folder + "/de.VMT", "language=Deutsch\n# FILE INFO END\n");
  WriteWholeFile(folder + "/none.vmt", "Yes\nJa\n");
  WriteWholeFile(folder + "/readme.txt", "language=Not listed\n# FILE INFO END\n");
  EXPECT_EQ(translator.ListTranslations(),
            (std::vector<std::string>{"Deutsch\tde.VMT", "Nederlands\tnl.vmt", "\tnone.vmt"}));
  EXPECT_EQ(translator.LanguageList(),
            (std::vector<std::string>{"English <default>", "Deutsch", "Nederlands", ""}));

  std::filesystem::remove_all(folder);
  EXPECT_TRUE(translator.ListTranslations().empty());
  EXPECT_EQ(translator.LanguageList(), std::vector<std::string>{"English <default>"});
}

TEST(Translator, ConfiguredLanguageIsLoadedAtStartUp) {
  TempDir dir;
  WriteWholeFile(dir.file("de.vmt"), "# FILE INFO END\nYes\nJa\n");
  auto database = SettingsDatabase::OpenInMemory();
  TSettingsStore settings(*database);
  settings.WriteString("Options", "TranslationFile", "de.vmt");

  TTranslator english(dir.path().string());
  english.LoadConfiguredTranslation(settings);
  EXPECT_EQ(english.Translation(), nullptr) << "CurrentLanguage defaults to English";

  settings.WriteString("Options", "CurrentLanguage", "Deutsch");
  TTranslator german(dir.path().string());
  german.LoadConfiguredTranslation(settings);
  EXPECT_EQ(german.AsFunction()("Yes"), "Ja");
}

TEST(Translator, ShippedGermanTranslatesEverySharedWord) {
  TTranslator translator(std::string(VELMORA_SOURCE_DIR) + "/data/Translations");
  ASSERT_TRUE(translator.LoadTranslation("de.vmt"));
  EXPECT_EQ(translator.Translation()->Language, "Deutsch");
  const auto &lines = translator.Translation()->Lines;
  ASSERT_EQ(lines.size() % 2, 0u) << "the body is pairs of lines";
  for (std::size_t i = 0; i < lines.size(); i += 2)
    EXPECT_EQ(translator.Translate(lines[i]), lines[i + 1]) << "every pair is reached by its English line";

  const TConstants english;
  const TConstants german = InitTranslatedConstants(translator.AsFunction());
  const std::string TConstants::*words[] = {
      &TConstants::Idle,
      &TConstants::Downloading,
      &TConstants::Done,
      &TConstants::CombiningFiles,
      &TConstants::Paused,
      &TConstants::Scheduled,
      &TConstants::Queued,
      &TConstants::ContactingHost,
      &TConstants::GettingFileInfo,
      &TConstants::Timeout,
      &TConstants::FileNotFound,
      &TConstants::ResumeIsNotSupported,
      &TConstants::FilesizeMismatch,
      &TConstants::CouldntConnectToHost,
      &TConstants::LostConnectionToServer,
      &TConstants::CouldntLogin,
      &TConstants::Yes,
      &TConstants::No,
      &TConstants::Unknown,
      &TConstants::All,
      &TConstants::Categories,
      &TConstants::History,
      &TConstants::Hours24,
      &TConstants::Days7,
      &TConstants::Days30,
      &TConstants::Today,
  };
  std::set<std::string> distinct;
  for (const auto word : words) {
    EXPECT_NE(german.*word, english.*word) << english.*word << " is translated";
    distinct.insert(german.*word);
  }
  EXPECT_EQ(distinct.size(), std::size(words)) << "status words are compared as text, so none may repeat";
  EXPECT_EQ(german.ThankYouGreeting, "Vielen Dank für die Nutzung von Velmora!");
  EXPECT_EQ(german.StatusToEnglish(german.Paused), "Paused");
}

} // namespace
