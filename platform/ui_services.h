// User-interface services the pages and the page logic use.
//
// Owns: message boxes, the Yes/No question, the open- and save-file dialogs, keyword help and
// the busy pointer. The Qt implementation lives in platform/ui; tests replace it.
// Failures: ShowHelp and the F1 key report a missing help file or keyword to the user themselves;
// the others cannot fail.
#pragma once

#include <optional>
#include <string>

namespace platform {

struct FileChoice {
  std::string path;   // full path, Windows form
  std::string title;  // the file name without its folder
};

class Dialogs {
 public:
  virtual ~Dialogs() = default;
  // A message with an OK button, no icon, the application's title.
  virtual void Message(const std::string& text) = 0;
  // A question with Yes and No buttons, no icon; true for Yes.
  virtual bool Question(const std::string& text) = 0;
  // The open-file dialog with a filter "Description | *.ext"; nothing when cancelled.
  virtual std::optional<FileChoice> OpenFile(const std::string& filter) = 0;
  // The save-file dialog: the chosen path (POSIX form), nothing when cancelled. A front end
  // that saves no files answers nothing.
  virtual std::optional<std::string> SaveFile(const std::string& /*filter*/,
                                              const std::string& /*suggestedName*/) {
    return std::nullopt;
  }
  // Opens the help window on the topic of `keyword` in `helpFile`, or on the whole file for an
  // empty keyword; the call returns at once.
  virtual void ShowHelp(const std::string& helpFile, const std::string& keyword) = 0;
  // Makes `helpFile` the program's help: F1 in any window opens it at its contents.
  virtual void RegisterProgramHelp(const std::string& helpFile) = 0;
  virtual void SetBusyPointer(bool busy) = 0;
};

}  // namespace platform
