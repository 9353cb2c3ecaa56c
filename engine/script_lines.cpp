#include "engine/script_lines.h"

#include "engine/names.h"
#include "platform/quoting.h"
#include "platform/text.h"

namespace engine {
namespace {

std::string Join(const std::vector<std::string>& items, std::string_view separator) {
  std::string out;
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0) out += separator;
    out += items[i];
  }
  return out;
}

// The field names of an index field list, lower-cased, each without its sort character.
std::vector<std::string> KeyFieldNames(std::string_view fieldList) {
  const std::string list = platform::LowerAscii(platform::Trim(fieldList));
  std::vector<std::string> names;
  std::size_t start = 0;
  while (true) {
    const std::size_t end = list.find(';', start);
    const std::string element = list.substr(start, end == std::string::npos ? end : end - start);
    names.push_back(element.substr(platform::LeftChars(element, 1).size()));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  return names;
}

// The foreign-key statement without its end.
std::string ForeignKeyStatement(const dao::Relation& relation) {
  if (relation.Fields.empty())
    throw platform::Error(platform::err::kInternal, "The relationship between " +
                                                        relation.ForeignTable + " and " +
                                                        relation.Table + " has no fields");
  std::vector<std::string> foreign, primary;
  for (const auto& pair : relation.Fields) {
    foreign.push_back(platform::QuoteName(pair.ForeignName, platform::QuotedIn::kScriptLine));
    primary.push_back(platform::QuoteName(pair.Name, platform::QuotedIn::kScriptLine));
  }
  return "alter table " +
         platform::QuoteName(TargetNameOf(relation.ForeignTable), platform::QuotedIn::kScriptLine) +
         " add foreign key (" + Join(foreign, ",") + ") references " +
         platform::QuoteName(TargetNameOf(relation.Table), platform::QuotedIn::kScriptLine) + " (" +
         Join(primary, ",") + ")";
}

}  // namespace

std::vector<std::string> PrimaryKeyLines(std::string_view fieldList, std::string_view targetTable) {
  const std::string table = platform::QuoteName(targetTable, platform::QuotedIn::kScriptLine);
  std::vector<std::string> quoted;
  for (const auto& name : KeyFieldNames(fieldList))
    quoted.push_back(platform::QuoteName(name, platform::QuotedIn::kScriptLine));

  std::vector<std::string> lines;
  for (const auto& q : quoted)
    lines.push_back("alter table " + table + " modify " + q + " not null;");
  lines.push_back("alter table " + table + " add primary key (" + Join(quoted, ",") + "); ");
  return lines;
}

std::string ForeignKeyLine(const dao::Relation& relation) {
  return ForeignKeyStatement(relation) + ";";
}

std::string PostgresForeignKeyLine(const dao::Relation& relation) {
  return ForeignKeyStatement(relation) + ForeignKeyActions(relation.Attributes) + ";";
}

std::vector<std::string> PostgresReloadTail() {
  return {"call sp_ts_time();", "drop procedure sp_ts_time();"};
}

std::vector<std::string> PrimaryKeyLinesOf(TargetKind target, std::string_view fieldList,
                                           std::string_view targetTable) {
  // On PostgreSQL the run makes the key with the table's indexes (its primary index is the key
  // constraint), before the table's link.
  if (target == TargetKind::PostgreSql) return {};
  return PrimaryKeyLines(fieldList, targetTable);
}

std::string ForeignKeyLineOf(TargetKind target, const dao::Relation& relation) {
  if (target != TargetKind::PostgreSql) return ForeignKeyLine(relation);
  if (relation.Attributes & dao::kRelationDontEnforce) return "";
  return PostgresForeignKeyLine(relation);
}

std::vector<std::string> ReloadTailOf(TargetKind target) {
  return target == TargetKind::PostgreSql ? PostgresReloadTail() : ReloadTail();
}

std::string ForeignKeyActions(long attributes) {
  std::string out;
  if (attributes & dao::kRelationUpdateCascade) out += " on update cascade";
  if (attributes & dao::kRelationDeleteCascade)
    out += " on delete cascade";
  else if (attributes & dao::kRelationDeleteSetNull)
    out += " on delete set null";
  return out;
}

const std::vector<std::string>& ReloadTail() {
  static const std::vector<std::string> tail = {"commit; ", "call sp_ts_time(); ", "commit; ",
                                                "drop procedure sp_ts_time; ", "commit; "};
  return tail;
}

}  // namespace engine
