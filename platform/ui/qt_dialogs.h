// Qt implementation of the user-interface services: message boxes, the open-file dialog, the
// help window and the busy pointer; and the end of the program for a Qt application.
//
// Owns: the help window (one for the program) and the F1 key's filter on the application. The
// dialogs are modal to the window they belong to only, so the help window stays usable. Each
// file dialog starts in the folder last used with its filter (kept in QSettings across runs),
// else in the folder given by SetStartFolder, else in the user's documents folder (else home).
// Failures: a missing help file or topic is told to the user in a message box; a folder that
// cannot be remembered (settings not writable) is not remembered.
#pragma once

#include <QObject>
#include <QPointer>
#include <QTextBrowser>

#include <map>
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
  std::optional<std::string> SaveFile(const std::string& filter,
                                      const std::string& suggestedName) override;
  void ShowHelp(const std::string& helpFile, const std::string& keyword) override;
  void RegisterProgramHelp(const std::string& helpFile) override;
  void SetBusyPointer(bool busy) override;

  QTextBrowser* helpWindow() const { return help_; }
  // Where the dialog with `filter` starts while no folder is remembered for it (POSIX path).
  void SetStartFolder(const std::string& filter, const std::string& folder);
  // The folder the dialog with `filter` opens in.
  QString StartFolder(const std::string& filter) const;

 private:
  class HelpKey;
  QPointer<QTextBrowser> help_;
  std::unique_ptr<HelpKey> helpKey_;
  void RememberFolder(const std::string& filter, const QString& chosenFile);

  bool busy_ = false;
  std::map<std::string, QString> startFolders_;
};

// Where the wizard keeps what it remembers (QSettings organisation and application).
inline constexpr const char* kSettingsOrganization = "Norvane";
inline constexpr const char* kSettingsApplication = "Migration Wizard";

// "Filter | *.ext" as Qt writes it: "Filter (*.ext)".
QString QtFilterOf(const std::string& filter);

// Ends the event loop after closing every window; nothing runs after it.
class QtProgramEnd : public ProgramEnd {
 public:
  void EndProgram() override;
};

}  // namespace platform::ui
