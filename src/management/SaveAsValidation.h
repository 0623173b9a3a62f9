#pragma once

#include "shell/Constants.h"

#include <functional>
#include <string>

namespace velmora {

// The message boxes of the Save As dialog: questions with Yes and No, warnings with OK.
class ISaveAsQuestions {
public:
  virtual ~ISaveAsQuestions() = default;
  // true only for Yes.
  virtual bool AskYesNo(const std::string &question) = 0;
  virtual void Warn(const std::string &text) = 0;
  // Puts the focus back in the file name field.
  virtual void FocusFileName() = 0;
};

struct TSaveAsChecks {
  TTranslate Translate;                                   // every shown text passes through it
  std::function<bool(const std::string &)> FileNameInUse; // by another unfinished download
  std::string Home;                                       // what a leading "~/" stands for
};

struct TSaveAsVerdict {
  bool Correct = false;
  std::string Path; // blanks trimmed, "~/" expanded: what the record is to save to
};

// Whether the typed path may be used for a new download, asking and warning as it goes: an
// existing file only when overwriting it is confirmed, never one another download uses, only an
// absolute path with a folder and a file name, a missing folder only when the user has it created,
// and only a place that can be written. It never changes the user's file: the old file is
// replaced only when the finished download is renamed over it.
TSaveAsVerdict SubmitedInfoCorrect(const std::string &text, const TSaveAsChecks &checks,
                                   ISaveAsQuestions &questions);

} // namespace velmora
