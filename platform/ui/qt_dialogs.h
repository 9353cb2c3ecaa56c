// Qt implementation of the user-interface services: message boxes, the open-file dialog, the
// help window and the busy pointer; and the end of the program for a Qt application.
//
// Owns: the help window (one for the program) and the F1 key's filter on the application.
// Failures: a missing help file or topic is told to the user in a message box.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTextBrowser>

#include <memory>

#include "platform/program.h"
#include "platform/ui_services.h"

namespace platform::ui {

class QtDialogs : public Dialogs {
 public:
  QtDialogs();
  ~QtDialogs() override;
  void Message(const std::string& text) override;
  bool Question(const std::string& text) override;
  std::optional<FileChoice> OpenFile(const std::string& filter) override;
  void ShowHelp(const std::string& helpFile, const std::string& keyword) override;
  void RegisterProgramHelp(const std::string& helpFile) override;
  void SetBusyPointer(bool busy) override;

  QTextBrowser* helpWindow() const { return help_; }

 private:
  class HelpKey;
  QPointer<QTextBrowser> help_;
  std::unique_ptr<HelpKey> helpKey_;
  bool busy_ = false;
};

// "Filter | *.ext" as Qt writes it: "Filter (*.ext)".
QString QtFilterOf(const std::string& filter);

// Ends the event loop after closing every window; nothing runs after it.
class QtProgramEnd : public ProgramEnd {
 public:
  void EndProgram() override;
};

}  // namespace platform::ui
