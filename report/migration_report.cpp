#include "report/migration_report.h"

#include <iomanip>

#include "platform/access_format.h"
#include "platform/text.h"

namespace reporting {

bool MigrationReport::Ok() const {
  if (!verifyError.empty() || !runFailures.empty() || !toolErrors.empty()) return false;
  for (const auto& t : tables)
    if (!t.Ok()) return false;
  return true;
}

namespace {

std::string Count(long long n) {
  return n < 0 ? "?" : std::to_string(n);
}

std::string OfExpected(int present, int expected) {
  return std::to_string(present) + "/" + std::to_string(expected);
}

std::string Joined(const std::vector<std::string>& items) {
  std::string out;
  for (const auto& item : items) out += (out.empty() ? "" : "; ") + item;
  return out;
}

void PrintPropertyLines(const std::vector<PropertyLines>& properties, const std::string& table,
                        std::ostream& out) {
  for (const auto& p : properties) {
    if (p.targetTable != table) continue;
    if (!p.carried.empty()) out << "    carried: " << Joined(p.carried) << '\n';
    for (const auto& line : p.notCarried) out << "    not carried: " << line << '\n';
  }
}

}  // namespace

void PrintReport(const MigrationReport& report, std::ostream& out) {
  out << "\nReport\n";
  if (!report.accessFormat.empty())
    out << report.accessFormat << "\n  (" << platform::kFormatsSupported << ")\n";
  const bool server = !report.serverTarget.empty();
  if (server) out << "Target: " << report.serverTarget << '\n';
  out << std::left << std::setw(28) << "table" << std::right << std::setw(9) << "Access"
      << std::setw(9) << (server ? "Server" : "Norvane")
      << "  values   indexes  key  foreign  link\n";
  for (const auto& t : report.tables) {
    std::string name =
        t.accessName == t.targetName ? t.accessName : t.accessName + " -> " + t.targetName;
    // Padded by the columns the name takes, not its bytes ("Aufträge" is nine bytes).
    out << platform::PadToWidth(name, 28) << std::right << std::setw(9) << Count(t.accessRows)
        << std::setw(9) << Count(t.targetRows) << "  " << std::left << std::setw(8)
        << (t.checksumsEqual ? "equal" : "DIFFER") << " " << std::setw(8)
        << OfExpected(t.indexesCreated, t.indexesExpected) << " " << std::setw(4)
        << (t.primaryKeyExpected ? (t.primaryKeyPresent ? "yes" : "NO") : "-") << " "
        << std::setw(8) << OfExpected(t.foreignKeysPresent, t.foreignKeysExpected) << " "
        << (t.linkExpected ? (t.linked ? "linked" : "NOT LINKED") : "-") << std::right
        << (t.Ok() ? "" : "   <- check") << '\n';
    if (!t.checksumNote.empty()) out << "    " << t.checksumNote << '\n';
    PrintPropertyLines(report.properties, t.targetName, out);
    for (const auto& column : t.timeColumns) out << "    " << column << " arrived as time\n";
    if (t.linkReadOnly)
      out << "    the link opens read-only in Access: the table has no unique index\n";
    if (!t.linkColumns.empty()) out << "    through the link: " << Joined(t.linkColumns) << '\n';
    for (const auto& column : t.linkTypesDiffer) out << "    " << column << '\n';
    for (const auto& warning : t.linkWarnings) out << "    the link: " << warning << '\n';
  }
  // Tables the check has no line for keep their property lines.
  for (const auto& p : report.properties) {
    bool listed = false;
    for (const auto& t : report.tables) listed = listed || t.targetName == p.targetTable;
    if (listed || (p.carried.empty() && p.notCarried.empty())) continue;
    out << p.targetTable << '\n';
    PrintPropertyLines(report.properties, p.targetTable, out);
  }
  if (!report.verifyError.empty())
    out << "\nThe check could not be made: " << report.verifyError << '\n';
  if (!report.runFailures.empty()) {
    out << "\nSteps that failed during the run:\n";
    for (const auto& f : report.runFailures)
      out << "  " << f.context << ": " << f.description << " (" << f.number << ")\n";
  }
  if (!report.toolErrors.empty()) {
    out << (server ? "\nErrors printed by the command files and the PostgreSQL tools:\n"
                   : "\nErrors printed by the Norvane tools:\n");
    for (const auto& e : report.toolErrors) out << "  " << e << '\n';
  }
  out << '\n'
      << (report.Ok() ? "Migration complete: everything checked out."
                      : "Migration finished with problems (see above).")
      << '\n';
}

}  // namespace reporting
