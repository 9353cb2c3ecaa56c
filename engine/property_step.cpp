#include "engine/property_step.h"

#include "engine/names.h"
#include "engine/work_files.h"
#include "options/settings.h"
#include "platform/access_expressions.h"
#include "platform/database_lock.h"
#include "platform/files.h"
#include "platform/quoting.h"
#include "platform/text.h"

namespace engine {
namespace {

using platform::access_sql::ValueKind;

constexpr const char* kScript = kPropertyFileNames[0];
constexpr const char* kBatch = kPropertyFileNames[1];

std::string Join(const std::vector<std::string>& items, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i)
    out += (i ? std::string(separator) : "") + items[i];
  return out;
}

// "what (Name, Name)" when there is a name.
void Listed(std::vector<std::string>& out, const char* what,
            const std::vector<std::string>& names) {
  if (!names.empty()) out.push_back(std::string(what) + " (" + Join(names, ", ") + ")");
}

std::string Actions(long attributes) {
  std::string out;
  if (attributes & dao::kRelationUpdateCascade) out += " on update cascade";
  if (attributes & dao::kRelationDeleteCascade)
    out += " on delete cascade";
  else if (attributes & dao::kRelationDeleteSetNull)
    out += " on delete set null";
  return out;
}

}  // namespace

void PropertyStep::ReadBefore(dao::Engine& engine, const MigrationSettings& settings) {
  tables_.clear();
  relations_.clear();
  failures_.clear();
  platform::ResumeNext err(&failures_);
  err.Run("Reading the field properties of " + settings.AccessDbPath, [&] {
    const auto workspace = engine.CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet);
    const auto db =
        workspace->OpenDatabase(settings.AccessDbPath, {.exclusive = false, .readOnly = true}, "");
    dao::TableDefCollection& defs = db->TableDefs();
    for (int i = 0; i < defs.Count(); ++i) {
      const auto table = defs.Item(i);
      const std::string name = table->Name();
      // System tables and ODBC links are not migrated.
      if (dao::IsSystemTable(*table) || platform::IsOdbcConnect(table->Connect())) continue;
      tables_.push_back({name, table->Fields(), table->ValidationRule()});
    }
    for (const dao::Relation& relation : db->Relations())
      if (!RelatesSystemTable(*db, relation)) relations_.push_back(relation);
    db->Close();
    workspace->Close();
  });
}

std::optional<int> PropertyStep::Start(const MigrationSettings& settings,
                                       const KeysOfRowsBreaking& rowsBreaking,
                                       platform::CommandStarter& commands) {
  lines_.clear();
  statements_.clear();
  platform::ResumeNext err(&failures_);
  // A database another program keeps locked ends the step: every question would wait as long,
  // and the query tool could not write the file either.
  bool locked = false;
  const auto stopLocked = [&](const platform::DatabaseLocked& e) {
    failures_.push_back({"Checking the properties against the new database", e.Number(),
                         e.Description() + "; the properties were not carried"});
    locked = true;
  };
  for (const Table& table : tables_) {
    if (locked) break;
    PropertyLines lines{TargetNameOf(table.accessName), {}, {}};
    std::string quotedTable;
    if (!err.Run("Planning the properties of " + table.accessName, [&] {
          quotedTable = platform::QuoteName(lines.targetTable, platform::QuotedIn::kScriptLine);
        }))
      continue;
    std::vector<platform::access_sql::ColumnKind> kinds;
    for (const dao::Field& f : table.fields)
      kinds.push_back({f.Name, platform::access_sql::KindOfAccessType(f.Type)});

    // Adds `statement` when no row breaks `condition`; says whether it did.
    const auto whenKept = [&](const std::string& what, const std::string& condition,
                              const std::string& statement) {
      std::string keys;
      if (locked) return false;
      try {
        keys = rowsBreaking(lines.targetTable, condition);
      } catch (const platform::DatabaseLocked& e) {
        stopLocked(e);
        return false;
      } catch (const platform::Error& e) {
        lines.notCarried.push_back(what + ": the new table could not be checked (" +
                                   e.Description() + ")");
        return false;
      }
      if (!keys.empty()) {
        lines.notCarried.push_back(what + ": the rows with the keys " + keys + " break it");
        return false;
      }
      statements_.push_back("alter table " + quotedTable + " " + statement + ";");
      return true;
    };
    const auto rule = [&](const std::string& what, const std::string& text,
                          const std::string& column, std::vector<std::string>& carried) {
      const auto check = platform::access_sql::CheckExpression(text, column, kinds);
      if (!check.ok())
        lines.notCarried.push_back(what + " " + text + ": " + check.why);
      else if (!check.sql.empty() &&
               whenKept(what + " " + text, check.sql, "add check (" + check.sql + ")"))
        carried.push_back(column.empty() ? "table" : column);
    };

    std::vector<std::string> defaults, autoNumbers, counters, required, nonEmpty, rules;
    for (const dao::Field& f : table.fields) {
      const ValueKind kind = platform::access_sql::KindOfAccessType(f.Type);
      const std::string column = platform::QuoteName(f.Name);
      if (f.AutoIncrement) autoNumbers.push_back(f.Name);
      if (f.AutoIncrement && f.AutoNumberCounter > 0 && !locked) {
        // The target numbers after the larger of the two; say so when it is Access's counter.
        const std::string counter = std::to_string(f.AutoNumberCounter);
        try {
          if (rowsBreaking(lines.targetTable, column + " < " + counter).empty())
            counters.push_back(
                f.Name + " continues at " + std::to_string(std::uint64_t{f.AutoNumberCounter} + 1) +
                " after Access's counter " + counter + ", above the highest number in the table");
        } catch (const platform::DatabaseLocked& e) {
          stopLocked(e);
        } catch (const platform::Error& e) {
          lines.notCarried.push_back("Access's AutoNumber counter of " + f.Name +
                                     ": the new table could not be checked (" + e.Description() +
                                     ")");
        }
      }
      if (!f.DefaultValue.empty() && !f.AutoIncrement) {
        const auto value = platform::access_sql::DefaultExpression(f.DefaultValue, kind);
        if (!value.ok())
          lines.notCarried.push_back("default of " + f.Name + " " + f.DefaultValue + ": " +
                                     value.why);
        else if (!value.sql.empty())
          defaults.push_back(f.Name);
      }
      if (f.Required && !f.AutoIncrement &&
          whenKept("required " + f.Name, column + " IS NOT NULL", "modify " + column + " not null"))
        required.push_back(f.Name);
      if (!f.AllowZeroLength && kind == ValueKind::kText &&
          whenKept("no zero-length text in " + f.Name, column + " <> ''",
                   "add check (" + column + " <> '')"))
        nonEmpty.push_back(f.Name);
      if (!f.ValidationRule.empty()) rule("rule of " + f.Name, f.ValidationRule, f.Name, rules);
      if (kind == ValueKind::kExactNumber && !locked) {
        try {
          const std::string keys =
              rowsBreaking(lines.targetTable, "typeof(" + column + ") <> 'text'");
          if (!keys.empty())
            lines.notCarried.push_back(f.Name + " as a number in the rows with the keys " + keys +
                                       ": more than 15 digits, kept as exact decimal text");
        } catch (const platform::DatabaseLocked& e) {
          stopLocked(e);
        } catch (const platform::Error& e) {
          lines.notCarried.push_back(f.Name + ": its values could not be checked (" +
                                     e.Description() + ")");
        }
      }
    }
    if (!table.rule.empty()) rule("table rule", table.rule, "", rules);

    Listed(lines.carried, "defaults", defaults);
    Listed(lines.carried, "AutoNumber", autoNumbers);
    lines.carried.insert(lines.carried.end(), counters.begin(), counters.end());
    Listed(lines.carried, "required", required);
    Listed(lines.carried, "no zero-length text", nonEmpty);
    Listed(lines.carried, "validation rules", rules);
    if (!locked) lines_.push_back(std::move(lines));
  }
  if (locked) {
    lines_.clear();
    statements_.clear();
    return std::nullopt;
  }

  for (const dao::Relation& relation : relations_) {
    const std::string actions = Actions(relation.Attributes);
    if (actions.empty() || (relation.Attributes & dao::kRelationDontEnforce) ||
        relation.Fields.empty())
      continue;
    err.Run("Planning the cascades of " + relation.ForeignTable + " to " + relation.Table, [&] {
      std::vector<std::string> from, to;
      for (const auto& field : relation.Fields) {
        from.push_back(platform::QuoteName(field.ForeignName, platform::QuotedIn::kScriptLine));
        to.push_back(platform::QuoteName(field.Name, platform::QuotedIn::kScriptLine));
      }
      const std::string child = TargetNameOf(relation.ForeignTable);
      const std::string parent = TargetNameOf(relation.Table);
      statements_.push_back("alter table " +
                            platform::QuoteName(child, platform::QuotedIn::kScriptLine) +
                            " modify foreign key (" + Join(from, ",") + ") references " +
                            platform::QuoteName(parent, platform::QuotedIn::kScriptLine) + " (" +
                            Join(to, ",") + ")" + actions + ";");
      for (auto& lines : lines_)
        if (lines.targetTable == child)
          lines.carried.push_back("cascades to " + parent + " (" + actions.substr(1) + ")");
    });
  }
  if (statements_.empty()) return std::nullopt;

  const std::string& w = settings.WorkFolder;
  std::vector<std::string> script = statements_;
  script.push_back("commit;");
  std::optional<int> task;
  if (!err.Run("Writing " + w + kScript,
               [&] { platform::files::WriteTextLines(w + kScript, script); }))
    return std::nullopt;
  const std::vector<std::string> batch = {
      "cd " + settings.QueryToolPath,
      settings.QueryToolPath.substr(0, 2),
      settings.QueryToolFileName + " -c \"uid=dba;pwd=KWZ;dbf=" + w + settings.TargetDbFileName +
          "\" read " + w + kScript,
  };
  if (!err.Run("Writing " + w + kBatch,
               [&] { platform::files::WriteTextLines(w + kBatch, batch); }))
    return std::nullopt;
  err.Run("Starting " + w + kBatch, [&] { task = commands.StartCommandFile(w + kBatch); });
  return task;
}

void PropertyStep::RemoveFiles(const MigrationSettings& settings) {
  for (const char* name : {kScript, kBatch}) {
    const std::string path = settings.WorkFolder + name;
    try {
      platform::files::DeleteFile(path);
    } catch (const platform::Error& e) {
      if (e.Number() != platform::err::kFileNotFound)
        failures_.push_back({"Deleting " + path, e.Number(), e.Description()});
    }
  }
}

}  // namespace engine
