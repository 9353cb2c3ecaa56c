#include "options/page_rules.h"

#include "platform/short_path.h"
#include "platform/text.h"

namespace wizard {

OptionsState OptionsStateAtLoad(const MigrationSettings& settings) {
  OptionsState state;
  if (settings.LinkTablesFlag != 1) return state;
  state.linkChecked = true;
  if (settings.TablePrefix != kDefaultPrefix) {
    state.oldPrefixSelected = false;
    state.otherText = settings.TablePrefix;
  }
  return state;
}

bool StoreOptions(const OptionsState& state, MigrationSettings& settings) {
  if (!state.linkChecked) {
    settings.LinkTablesFlag = 0;
    return true;
  }
  settings.LinkTablesFlag = 1;
  if (state.oldPrefixSelected) {
    settings.TablePrefix = kDefaultPrefix;
    return true;
  }
  if (platform::Trim(state.otherText).empty()) return false;
  settings.TablePrefix = state.otherText;
  return true;
}

std::string TargetDbFileNameOf(const std::string& fileTitle) {
  constexpr std::string_view kAccdb = ".accdb";
  const bool accdb =
      fileTitle.size() > kAccdb.size() &&
      platform::EqualsNoCase(std::string_view(fileTitle).substr(fileTitle.size() - kAccdb.size()),
                             kAccdb);
  return platform::DropLastChars(fileTitle, accdb ? kAccdb.size() - 1 : 3) + "db";
}

bool StoreAccessChoice(const std::string& path, const std::string& title,
                       MigrationSettings& settings) {
  settings.AccessDbPath = path;
  settings.TargetDbFileName = path;
  if (platform::Trim(path).empty()) return false;
  settings.WorkFolder = platform::paths::ShortPathOf(path);
  settings.TargetDbFileName = TargetDbFileNameOf(title);
  return true;
}

bool StoreQueryToolChoice(const std::string& path, const std::string& title,
                          MigrationSettings& settings) {
  const std::string name = platform::LowerAscii(platform::Trim(title));
  if (name != "ivex.exe" && name != "ivexw.exe") return false;
  settings.QueryToolFileName = platform::Trim(title);
  settings.QueryToolPath = platform::paths::ShortPathOf(path);
  return true;
}

std::string HelpFilePath(const MigrationSettings& settings) {
  return settings.AppFolder + "\\Migrate.hlp";
}

}  // namespace wizard
