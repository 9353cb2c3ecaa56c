// The rules of the wizard's pages that need no widget: what a choice or a press writes into the
// settings, and what the page shows or asks then.
#pragma once

#include <string>

#include "options/settings.h"

namespace wizard {

inline constexpr const char* kAppTitle = "Norvane Migration Wizard";

// ----- Options page -----
inline constexpr const char* kDefaultPrefix = "Old_";
inline constexpr const char* kEmptyOtherMessage =
    "Because you selected <Other:> the entry box must not be empty!";

struct OptionsState {
  bool linkChecked = false;
  bool oldPrefixSelected = true;  // otherwise "Other:" is selected
  std::string otherText = kDefaultPrefix;
};

// The controls' state after the page's load step.
OptionsState OptionsStateAtLoad(const MigrationSettings& settings);

// ">>": writes LinkTablesFlag and TablePrefix. False (with the flag already written) when
// "Other:" is selected with a blank entry: the page shows kEmptyOtherMessage and stays.
bool StoreOptions(const OptionsState& state, MigrationSettings& settings);

// ----- Source database page -----
inline constexpr const char* kAccessFilter = "Access Database (*.mdb *.accdb) | *.mdb *.accdb";
inline constexpr const char* kNoAccessDbMessage =
    "You must choose an Access DB before you will be allowed to proceed further.";

// The new database file's name: for an .accdb title (any letter case) the title without
// "accdb", then "db" (Sales.accdb, Sales.db); for any other the title without its last three
// characters, then "db" (Sales.mdb, Sales.db).
std::string TargetDbFileNameOf(const std::string& fileTitle);

// "Browse ...": stores the chosen path. False when it is blank (the page shows
// kNoAccessDbMessage); otherwise WorkFolder and TargetDbFileName are set as well.
bool StoreAccessChoice(const std::string& path, const std::string& title,
                       MigrationSettings& settings);

// ----- Query-tool page -----
inline constexpr const char* kToolFilter = "Norvane (*.exe) | *.exe";
inline constexpr const char* kInvalidToolMessage =
    "If you don't select a valid ivex/wivex path you will not be able to proceed.";

// "Browse ...": true and the tool's settings written when the title names ivex.exe or
// ivexw.exe (in any letter case); otherwise false and nothing written.
bool StoreQueryToolChoice(const std::string& path, const std::string& title,
                          MigrationSettings& settings);

// ----- Paths the pages show -----
// A path as the user's system writes it (POSIX, long folder names); the Windows short form
// stays inside the command files. A path that maps to no POSIX one is shown as given.
std::string ShownPath(const std::string& windowsPath);
// A message with every Windows-form path in it shown so: the settings' own paths (whose long
// forms may hold blanks), then any other drive path up to a blank, a quote or the line's end.
std::string ShownText(const std::string& text, const MigrationSettings& settings);

// ----- Help -----
std::string HelpFilePath(const MigrationSettings& settings);

}  // namespace wizard
