// Qt implementation of the user-interface services: message boxes, the open-file dialog, the
// help window and the busy pointer; and the end of the program for a Qt application.
//
// Owns: the help window (one for the program). Failures: a missing help file or topic is told
// to the user in a message box.
#pragma once

#include <QPointer>
#include <QTextBrowser>

#include "platform/program.h"
#include "platform/ui_services.h"

namespace platform::ui {

class QtDialogs : public Dialogs {
 public:
  void Message(const std::string& text) override;
  bool Question(const std::string& text) override;
  std::optional<FileChoice> OpenFile(const std::string& filter) override;
  void ShowHelp(const std::string& helpFile, const std::string& keyword) override;
  void SetBusyPointer(bool busy) override;

  QTextBrowser* helpWindow() const { return help_; }

 private:
  QPointer<QTextBrowser> help_;
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
