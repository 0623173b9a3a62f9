#include "management/SaveAsValidation.h"
#include "support/TempDir.h"

#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <string>
#include <vector>

namespace velmora::testing {
namespace {

// Answers the questions from a script and records every box and focus change.
struct ScriptedQuestions : ISaveAsQuestions {
  bool AskYesNo(const std::string &question) override {
    log.push_back("ask " + question);
    if (answers.empty())
      return false;
    const bool yes = answers.front();
    answers.pop_front();
    return yes;
  }
  void Warn(const std::string &text) override { log.push_back("warn " + text); }
  void FocusFileName() override { log.push_back("focus"); }
  std::deque<bool> answers;
  std::vector<std::string> log;
};

struct Case {
  const char *name;
  std::string typed; // "D" stands for the test's folder, "~" for its home
  std::deque<bool> answers;
  bool correct;
  std::vector<std::string> log; // "D" stands for the test's folder
};

std::string Replaced(std::string text, const std::string &from, const std::string &to) {
  for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
    text.replace(at, from.size(), to);
  return text;
}

const std::string kOldBytes = "the user's own bytes\n";
const std::string kInUse =
    "warn This file name is in use by another downloading process. Please choose another "
    "file name.";
const std::string kInvalid = "warn Please enter a valid filepath.";

class SaveAsValidation : public ::testing::TestWithParam<Case> {};

TEST_P(SaveAsValidation, AsksWarnsAndNeverTouchesTheUsersFile) {
  const Case &c = GetParam();
  TempDir dir;
  const std::string root = dir.path().string();
  WriteWholeFile(dir.path() / "old.bin", kOldBytes);
  WriteWholeFile(dir.path() / "used.bin", kOldBytes);
  WriteWholeFile(dir.path() / "plain", "a regular file, not a folder");
  std::filesystem::create_directories(dir.path() / "home");
  TSaveAsChecks checks{[](std::string_view text) { return std::string(text); },
                       [&](const std::string &path) { return path == root + "/used.bin"; }, root + "/home"};
  ScriptedQuestions questions;
  questions.answers = c.answers;
  const std::string typed = Replaced(c.typed, "D/", root + "/");

  const TSaveAsVerdict verdict = SubmitedInfoCorrect(typed, checks, questions);
  EXPECT_EQ(verdict.Correct, c.correct);
  std::vector<std::string> expected;
  for (const std::string &line : c.log)
    expected.push_back(Replaced(line, "D/", root + "/"));
  EXPECT_EQ(questions.log, expected);
  // Validation leaves every file as it was and nothing of its own behind.
  EXPECT_EQ(ReadWholeFile(dir.path() / "old.bin"), kOldBytes);
  EXPECT_EQ(ReadWholeFile(dir.path() / "used.bin"), kOldBytes);
  for (const auto &entry : std::filesystem::recursive_directory_iterator(dir.path()))
    EXPECT_EQ(entry.path().filename().string().find(".velmora-probe"), std::string::npos) << entry.path();
  if (c.correct) {
    EXPECT_TRUE(std::filesystem::is_directory(std::filesystem::path(verdict.Path).parent_path()));
  }
}

const std::string kLong(300, 'n');

INSTANTIATE_TEST_SUITE_P(
    Cases, SaveAsValidation,
    ::testing::Values(Case{"NewFileInAnExistingFolder", "  D/new.bin ", {}, true, {}},
                      Case{"HomeIsExpanded", "~/new.bin", {}, true, {}},
                      Case{"ExistsAndNo",
                           "D/old.bin",
                           {false},
                           false,
                           {"ask The file \"D/old.bin\" already exists. Do you want to overwrite it?"}},
                      Case{"ExistsAndYes",
                           "D/old.bin",
                           {true},
                           true,
                           {"ask The file \"D/old.bin\" already exists. Do you want to overwrite it?"}},
                      Case{"ExistsYesAndInUse",
                           "D/used.bin",
                           {true},
                           false,
                           {"ask The file \"D/used.bin\" already exists. Do you want to overwrite it?",
                            kInUse}},
                      Case{"BareFileName", "file.bin", {}, false, {kInvalid, "focus"}},
                      Case{"RelativePath", "sub/file.bin", {}, false, {kInvalid, "focus"}},
                      Case{"NoFileName", "D/", {}, false, {kInvalid, "focus"}},
                      Case{"Empty", "   ", {}, false, {kInvalid, "focus"}},
                      Case{"AFolderIsNoFile",
                           "D/home",
                           {true},
                           false,
                           {"ask The file \"D/home\" already exists. Do you want to overwrite it?",
                            "warn The file \"D/home\" couldn't be opened for writing.", "focus"}},
                      Case{"NameTooLong",
                           "D/" + kLong,
                           {},
                           false,
                           {"warn The file \"D/" + kLong + "\" couldn't be opened for writing.", "focus"}},
                      Case{"MissingFolderYes",
                           "D/a/b/new.bin",
                           {true},
                           true,
                           {"ask The directory \"D/a/b\" doesn't exist. Do you want to create it?"}},
                      Case{"MissingFolderNo",
                           "D/a/b/new.bin",
                           {false},
                           false,
                           {"ask The directory \"D/a/b\" doesn't exist. Do you want to create it?"}},
                      Case{"FolderBelowARegularFile",
                           "D/plain/sub/new.bin",
                           {true},
                           false,
                           {"ask The directory \"D/plain/sub\" doesn't exist. Do you want to create it?",
                            "warn The directory couldn't be created.", "focus"}},
                      Case{"FolderNameTooLong",
                           "D/" + kLong + "/new.bin",
                           {true},
                           false,
                           {"ask The directory \"D/" + kLong + "\" doesn't exist. Do you want to create it?",
                            "warn The directory couldn't be created.", "focus"}}),
    [](const auto &param) { return std::string(param.param.name); });

} // namespace
} // namespace velmora::testing
