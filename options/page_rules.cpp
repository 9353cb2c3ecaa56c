#include "options/page_rules.h"

#include <algorithm>
#include <string_view>
#include <vector>

#include "platform/paths.h"
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

std::string ShownPath(const std::string& windowsPath) {
  if (windowsPath.empty()) return windowsPath;
  std::string shown = platform::paths::PosixFormOrMapped(windowsPath);
  if (shown.empty()) return windowsPath;
  // A folder keeps its closing separator.
  if (const char last = windowsPath.back(); (last == '\\' || last == '/') && shown.back() != '/')
    shown += '/';
  return shown;
}

namespace {

bool StartsDrivePath(const std::string& text, std::size_t i) {
  const auto letter = [](char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); };
  return i + 2 < text.size() && letter(text[i]) && text[i + 1] == ':' && text[i + 2] == '\\' &&
         (i == 0 || !(letter(text[i - 1]) || (text[i - 1] >= '0' && text[i - 1] <= '9')));
}

}  // namespace

std::string ShownText(const std::string& text, const MigrationSettings& settings) {
  std::vector<std::string> known = {settings.AccessDbPath,
                                    settings.WorkFolder + settings.TargetDbFileName,
                                    settings.WorkFolder, settings.QueryToolPath};
  std::sort(known.begin(), known.end(),
            [](const std::string& a, const std::string& b) { return a.size() > b.size(); });
  std::string out;
  for (std::size_t i = 0; i < text.size();) {
    if (!StartsDrivePath(text, i)) {
      out += text[i++];
      continue;
    }
    std::string path;
    for (const auto& k : known)
      if (k.size() > 3 && path.empty() && text.compare(i, k.size(), k) == 0) path = k;
    if (path.empty()) {
      std::size_t end = i;
      while (end < text.size() && std::string_view(" \t\n\"'").find(text[end]) == std::string::npos)
        ++end;
      while (end > i + 3 && std::string_view(".,;:)").find(text[end - 1]) != std::string::npos)
        --end;
      path = text.substr(i, end - i);
    }
    out += ShownPath(path);
    i += path.size();
  }
  return out;
}

std::string HelpFilePath(const MigrationSettings& settings) {
  return settings.AppFolder + "\\Migrate.hlp";
}

}  // namespace wizard
