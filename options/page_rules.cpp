#include "options/page_rules.h"

#include <algorithm>
#include <string_view>
#include <tuple>
#include <vector>

#include "platform/error.h"
#include "platform/paths.h"
#include "platform/server_address.h"
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

TargetState TargetStateAtLoad(const MigrationSettings& settings) {
  TargetState state;
  state.postgres = settings.Target == TargetKind::PostgreSql;
  state.server = settings.ServerHost;
  state.port = settings.ServerPort;
  state.database =
      settings.ServerDatabase.empty() ? ProposedServerDatabase(settings) : settings.ServerDatabase;
  state.user = settings.ServerUser;
  state.odbcDriver = settings.ServerOdbcDriver;
  return state;
}

std::string ProposedServerDatabase(const MigrationSettings& settings) {
  const std::string& name = settings.TargetDbFileName;  // Sales.db
  if (settings.AccessDbPath.empty() || name.size() <= 3) return "";
  return name.substr(0, name.size() - 3);
}

namespace {

bool IsUri(const std::string& server) {
  return platform::StartsWithNoCase(server, "postgresql://") ||
         platform::StartsWithNoCase(server, "postgres://");
}

// A URI's part and the box of the same name: one may be empty, or both say the same.
std::string Merge(const std::string& fromUri, const std::string& box, const char* what,
                  std::string& into) {
  if (!fromUri.empty() && !box.empty() && fromUri != box)
    return std::string("The server address names the ") + what + " '" + fromUri + "' and the " +
           what + " box '" + box + "': leave the box empty or make them the same.";
  into = fromUri.empty() ? box : fromUri;
  return "";
}

bool IsPort(const std::string& port) {
  if (port.empty() || port.size() > 5) return false;
  for (char c : port)
    if (c < '0' || c > '9') return false;
  const int value = std::stoi(port);
  return value >= 1 && value <= 65535;
}

}  // namespace

std::string StoreTargetChoice(const TargetState& state, MigrationSettings& settings) {
  if (!state.postgres) {
    settings.Target = TargetKind::Norvane;
    return "";
  }
  platform::ServerAddress typed{platform::Trim(state.server),
                                platform::Trim(state.port),
                                platform::Trim(state.database),
                                platform::Trim(state.user),
                                {}};
  platform::ServerAddress address = typed;
  if (IsUri(typed.host)) {
    platform::ServerAddress uri;
    try {
      uri = platform::ParseServerUri(typed.host);
    } catch (const platform::Error& e) {
      return e.Description();
    }
    // The settings, and so the links' connect string, hold these four parts only.
    if (!uri.options.empty())
      return "The server address has the parameter '" + uri.options.front().first +
             "', which the linked tables cannot carry: leave it out of the address.";
    address.host = uri.host;
    for (const auto& [part, box, what, into] :
         {std::tuple(&uri.port, &typed.port, "port", &address.port),
          std::tuple(&uri.database, &typed.database, "database", &address.database),
          std::tuple(&uri.user, &typed.user, "user", &address.user)})
      if (std::string refused = Merge(*part, *box, what, *into); !refused.empty()) return refused;
  }
  if (!address.port.empty() && !IsPort(address.port)) return kBadPortMessage;
  if (address.database.empty()) return kNoServerDatabaseMessage;
  std::string driver = platform::Trim(state.odbcDriver);
  if (driver.empty()) return kNoOdbcDriverMessage;
  // psqlODBC's connect string: "Driver={...};Server=...;": a brace or a semicolon would end a
  // value early.
  for (const auto& [value, what] :
       {std::pair(&address.host, "server"), std::pair(&address.database, "database name"),
        std::pair(&address.user, "user name"), std::pair(&driver, "ODBC driver name")})
    if (value->find_first_of(";{}") != std::string::npos)
      return std::string("The ") + what +
             " must not hold ';', '{' or '}': the linked tables' connect string cannot carry "
             "them.";
  settings.Target = TargetKind::PostgreSql;
  settings.ServerHost = address.host;
  settings.ServerPort = address.port;
  settings.ServerDatabase = address.database;
  settings.ServerUser = address.user;
  settings.ServerOdbcDriver = driver;
  return "";
}

CreateDbTexts CreateDbTextsOf(TargetKind target) {
  if (target == TargetKind::PostgreSql)
    return {"Create a PostgreSQL DataBase",
            "The new PostgreSQL DB is going to be created on the server that you named, with the "
            "server's own tools (createdb and psql).",
            "create postgresql db"};
  return {"Create a Norvane DataBase",
          "The location of the new Norvane DB file is going to be in the same location as the "
          "Access DB.",
          "create norvane db"};
}

std::string ShownTargetDatabase(const MigrationSettings& settings) {
  if (settings.Target == TargetKind::PostgreSql)
    return platform::Describe({settings.ServerHost,
                               settings.ServerPort,
                               settings.ServerDatabase,
                               settings.ServerUser,
                               {}});
  return ShownPath(settings.WorkFolder + settings.TargetDbFileName);
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
