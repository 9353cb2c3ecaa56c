#include "migrate/console_options.h"

#include "platform/error.h"
#include "platform/server_address.h"

namespace console {
namespace {

// --server with a postgresql:// URI: its parts, each also given on its own at most once.
void TakeServerUri(const std::string& uri, ConsoleOptions& options) {
  platform::ServerAddress address;
  try {
    address = platform::ParseServerUri(uri);
  } catch (const platform::Error& e) {
    throw std::invalid_argument("--server " + uri + ": " + e.Description());
  }
  if (!address.options.empty())
    throw std::invalid_argument("--server " + uri +
                                ": connection parameters after '?' are not taken; give the "
                                "server, port, database and user only");
  options.server = address.host;
  const auto take = [&uri](std::string& option, const std::string& value, const char* name) {
    if (value.empty()) return;
    if (!option.empty() && option != value)
      throw std::invalid_argument(std::string("--") + name + " " + option +
                                  " differs from the one in --server " + uri);
    option = value;
  };
  take(options.port, address.port, "port");
  take(options.database, address.database, "database");
  take(options.user, address.user, "user");
}

}  // namespace

const char* const kConsoleUsage =
    "Usage: norvane-migrate --access FILE [options] | --restore FILE\n"
    "Moves a Microsoft Access database into a new Norvane database beside it, as the wizard does,\n"
    "or into a new database on a PostgreSQL server (--target postgresql).\n"
    "Options take their value as --option VALUE or --option=VALUE.\n"
    "\n"
    "  --access FILE        the Access database (.mdb or .accdb) to migrate (required); given\n"
    "                       more than once, or as a folder (its .mdb and .accdb files), each is\n"
    "                       migrated in turn and a summary table follows\n"
    "  --target KIND        norvane (the default: a Norvane database file beside the Access\n"
    "                       file) or postgresql (a new database on a PostgreSQL server)\n"
    "  --server HOST        the PostgreSQL server (a name, an address or a socket folder), or\n"
    "                       a URI postgresql://[user@][host][:port][/database]\n"
    "  --port N             the server's port\n"
    "  --database NAME      the new database (default: the Access file's name without its\n"
    "                       extension, Sales.mdb gives Sales)\n"
    "  --user NAME          the server's user\n"
    "  --odbc-driver NAME   the psqlODBC driver the links name (default \"PostgreSQL Unicode\")\n"
    "                       What is not given comes from PGHOST, PGPORT and PGUSER. The password\n"
    "                       is never an option: PGPASSWORD or ~/.pgpass gives it.\n"
    "  --ivex FILE          the Norvane query tool ivex.exe or ivexw.exe\n"
    "                       (default: the one installed with this program)\n"
    "  --link               rename the Access tables with a prefix and link them to the new ones\n"
    "  --prefix TEXT        the prefix for --link (default \"Old_\"; must not be blank)\n"
    "  --dsn NAME           the ODBC data source of the new database\n"
    "  --connect \"ODBC;...\" the ODBC connect string of the new database\n"
    "                       (default: the new Norvane file through the driver \"Norvane\")\n"
    "  --overwrite          replace an existing Norvane database file (or PostgreSQL database)\n"
    "  --replace-linked-database\n"
    "                       replace it even when the Access file's links use it (their rows\n"
    "                       and every change since the migration are lost)\n"
    "  --keep-work-files    leave the work files in the Access file's folder\n"
    "  --dry-run            write the work files beside the Access file and print the plan;\n"
    "                       neither the Access file nor any database is changed\n"
    "  --report-json FILE   also write the report (every file, check, table, failure) as JSON\n"
    "  --check              only check the Access file (exit status 1 when anything is found)\n"
    "  --restore FILE       put FILE back as it was before its link-back and remove the new\n"
    "                       database, a file or on its server (refused when FILE changed since)\n"
    "  --discard-changes    with --restore: remove the new database also when it holds\n"
    "                       changes made after the migration (they are lost)\n"
    "  --verbose            also show what the command files print (always written to\n"
    "                       FILE.norvane-migrate.log beside the Access file)\n"
    "  --version            the program's version\n"
    "  --help               this text\n"
    "\n"
    "The report goes to standard output; progress, warnings and errors to standard error.\n"
    "\n"
    "Formats: Access 97 to Access 2019 files are read; --link changes Access 97 to Access 2016\n"
    "files (Jet 3, Jet 4, ACE), unencrypted. Sales.mdb and Sales.accdb both give Sales.db.\n"
    "\n"
    "Exit status: 0 when every table, key and link arrived and checked out (--check: nothing\n"
    "found; --restore: restored), 1 when anything failed or the check stopped the run before\n"
    "anything was created (the messages say what), 2 for a wrong command line.\n";

std::string VersionLine() {
  return std::string("norvane-migrate ") + NORVANE_VERSION;
}

ConsoleOptions ParseConsoleOptions(const std::vector<std::string>& args) {
  ConsoleOptions options;
  bool accessGiven = false;
  std::optional<std::string> server;
  for (std::size_t i = 0; i < args.size(); ++i) {
    // "--option=value" is "--option value".
    std::string arg = args[i];
    std::optional<std::string> attached;
    if (const auto equals = arg.find('='); arg.starts_with("--") && equals != std::string::npos) {
      attached = arg.substr(equals + 1);
      arg.resize(equals);
    }
    bool taken = false;
    const auto value = [&]() -> std::string {
      taken = true;
      if (attached) return *attached;
      if (i + 1 >= args.size()) throw std::invalid_argument(arg + " needs a value");
      return args[++i];
    };
    if (arg == "--access") {
      options.accessFiles.push_back(value());
      if (!accessGiven) options.access = options.accessFiles.back();
      accessGiven = true;
    } else if (arg == "--target") {
      const std::string kind = value();
      if (kind == "postgresql" || kind == "postgres")
        options.postgres = true;
      else if (kind != "norvane")
        throw std::invalid_argument("--target takes norvane or postgresql, not " + kind);
    } else if (arg == "--server") {
      server = value();
    } else if (arg == "--port") {
      options.port = value();
    } else if (arg == "--database") {
      options.database = value();
    } else if (arg == "--user") {
      options.user = value();
    } else if (arg == "--odbc-driver") {
      options.odbcDriver = value();
    } else if (arg == "--ivex") {
      options.ivex = value();
    } else if (arg == "--link") {
      options.link = true;
    } else if (arg == "--prefix") {
      options.prefix = value();
    } else if (arg == "--dsn") {
      options.dsn = value();
    } else if (arg == "--connect") {
      options.connect = value();
    } else if (arg == "--overwrite") {
      options.overwrite = true;
    } else if (arg == "--replace-linked-database") {
      options.replaceLinkedDatabase = true;
    } else if (arg == "--keep-work-files") {
      options.keepWorkFiles = true;
    } else if (arg == "--report-json") {
      options.reportJson = value();
    } else if (arg == "--dry-run") {
      options.dryRun = true;
    } else if (arg == "--check") {
      options.check = true;
    } else if (arg == "--restore") {
      options.restore = value();
    } else if (arg == "--discard-changes") {
      options.discardChanges = true;
    } else if (arg == "--verbose") {
      options.verbose = true;
    } else if (arg == "--version") {
      options.version = true;
    } else if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else {
      throw std::invalid_argument("unknown option " + arg);
    }
    if (attached && !taken) throw std::invalid_argument(arg + " takes no value");
  }
  if (options.discardChanges && !options.restore)
    throw std::invalid_argument("--discard-changes goes with --restore");
  if (options.help || options.version || options.restore) return options;
  if (!accessGiven || options.access.empty()) throw std::invalid_argument("--access is required");
  const bool serverGiven = server || !options.port.empty() || !options.database.empty() ||
                           !options.user.empty() || options.odbcDriver;
  if (serverGiven && !options.postgres)
    throw std::invalid_argument(
        "--server, --port, --database, --user and --odbc-driver go with --target postgresql");
  if (options.postgres) {
    if (server && server->find("://") != std::string::npos)
      TakeServerUri(*server, options);
    else if (server)
      options.server = *server;
    if (!options.port.empty() && options.port.find_first_not_of("0123456789") != std::string::npos)
      throw std::invalid_argument("--port takes a number, not " + options.port);
    if (options.dsn || options.connect || !options.ivex.empty())
      throw std::invalid_argument(
          "--dsn, --connect and --ivex go with the Norvane target, not with --target postgresql");
  }
  if (options.dsn && options.connect)
    throw std::invalid_argument("give either --dsn or --connect, not both");
  if (options.connect && options.connect->rfind("ODBC;", 0) != 0)
    throw std::invalid_argument("--connect takes a connect string that begins with \"ODBC;\"");
  return options;
}

}  // namespace console
