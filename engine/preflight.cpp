#include "engine/preflight.h"

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string_view>

#include "engine/names.h"
#include "engine/restore.h"
#include "options/settings.h"
#include "platform/error.h"
#include "platform/key_sort.h"
#include "platform/paths.h"
#include "platform/quoting.h"
#include "platform/text.h"
#include "platform/write_access.h"
#include "target/create_db.h"

namespace engine {
namespace {

using Row = std::vector<std::optional<std::string>>;

// What the walk needs of one table.
struct TableFacts {
  std::string name;
  std::string connect;
  std::vector<dao::Index> indexes;
  std::vector<std::string> fields;
};

std::vector<std::string> IndexFieldNames(const std::string& fields) {
  std::vector<std::string> names;
  std::size_t start = 0;
  while (start <= fields.size()) {
    std::size_t end = fields.find(';', start);
    if (end == std::string::npos) end = fields.size();
    std::string name = fields.substr(start, end - start);
    if (!name.empty() && (name[0] == '+' || name[0] == '-')) name.erase(0, 1);
    if (!name.empty()) names.push_back(name);
    start = end + 1;
  }
  return names;
}

std::string KeyText(const std::vector<std::string>& values) {
  std::string text;
  for (const std::string& value : values) text += (text.empty() ? "" : ", ") + value;
  return text;
}

// The key of `row` at `positions`, as the check lists it ("1, NULL").
std::string KeyText(const Row& row, const std::vector<std::size_t>& positions) {
  std::string text;
  for (const std::size_t at : positions) {
    if (!text.empty()) text += ", ";
    text += row[at] ? *row[at] : "NULL";
  }
  return text;
}

// The first kListedKeys keys by the row that made each worth listing.
class FirstKeys {
 public:
  void Offer(std::uint64_t row, std::string_view packed) {
    if (keys_.size() == kListedKeys && row >= keys_.back().first) return;
    const auto at =
        std::upper_bound(keys_.begin(), keys_.end(), row,
                         [](std::uint64_t r, const auto& key) { return r < key.first; });
    keys_.insert(at, {row, std::string(packed)});
    if (keys_.size() > kListedKeys) keys_.pop_back();
  }
  std::vector<std::string> Texts() const {
    std::vector<std::string> texts;
    for (const auto& key : keys_) texts.push_back(KeyText(platform::UnpackKey(key.second)));
    return texts;
  }
  bool Lists(std::string_view packed) const {
    for (const auto& key : keys_)
      if (key.second == packed) return true;
    return false;
  }

 private:
  std::vector<std::pair<std::uint64_t, std::string>> keys_;
};

// Rows that repeat a key, from the keys in sorted order: rows of one key come together, first
// row first; the key is listed in the order of the row that first repeats it.
struct DuplicateTally {
  void Take(std::string_view key, std::uint64_t number) {
    const bool repeats = rowsOfKey > 0 && key == first;
    if (!repeats) first.assign(key);
    Take(repeats, key, number);
  }
  // `repeats`: the key equals the one before it.
  void Take(bool repeats, std::string_view key, std::uint64_t number) {
    if (!repeats) {
      rowsOfKey = 1;
      return;
    }
    if (++rowsOfKey == 2) keys.Offer(number, key);
    ++rows;
  }
  std::size_t rows = 0;
  FirstKeys keys;
  std::string first;
  std::size_t rowsOfKey = 0;
};

std::string Quoted(const std::string& name) {
  return "\"" + name + "\"";
}

class Preflight {
 public:
  Preflight(dao::Engine& engine, const PreflightRequest& request, std::size_t keyMemory,
            bool streamKeys)
      : engine_(engine), request_(request), keyMemory_(keyMemory), streamKeys_(streamKeys) {}

  PreflightResult Run() {
    result_.accessPath = platform::paths::WindowsFormOf(request_.accessPath);
    CheckPaths();
    std::shared_ptr<dao::Workspace> workspace;
    std::shared_ptr<dao::Database> db;
    try {
      workspace = engine_.CreateWorkspace("", "admin", "", dao::WorkspaceType::Jet);
      db = workspace->OpenDatabase(request_.accessPath, {.exclusive = false, .readOnly = true}, "");
    } catch (const platform::Error& e) {
      OpenFailed(e);
      return result_;
    }
    try {
      Walk(*db);
    } catch (const platform::Error& e) {
      Add(FindingKind::RowsUnread, false,
          "The Access file could not be read to its end for the check: " + e.Description());
    }
    try {
      db->Close();
      workspace->Close();
    } catch (const platform::Error&) {
      // Closing a database opened read-only changes nothing; there is nothing to report.
    }
    return result_;
  }

 private:
  void Add(FindingKind kind, bool stops, std::string text, std::vector<std::string> keys = {}) {
    result_.findings.push_back({kind, stops, std::move(text), std::move(keys)});
  }

  // What the run writes: the command files name both paths, the Access file is opened for
  // writing, its folder and the new database's take the work files, locks and backups.
  void CheckPaths() {
    if (std::string why = target::UnsafePathMessage(result_.accessPath); !why.empty())
      Add(FindingKind::UnusablePath, true, why);
    if (!request_.targetPath.empty())
      if (std::string why = target::UnsafeDatabasePathMessage(request_.targetPath); !why.empty())
        Add(FindingKind::UnusablePath, true, why);
    const std::string file = platform::paths::PosixFormOrMapped(request_.accessPath);
    if (file.empty()) return;
    if (std::string why = platform::WriteRefusal(file); !why.empty())
      Add(FindingKind::ReadOnly, true,
          result_.accessPath + " cannot be written (" + why +
              "): the run holds it open for writing. Make the file writable first.");
    std::vector<std::string> folders{std::filesystem::path(file).parent_path().string()};
    const std::string target = platform::paths::PosixFormOrMapped(request_.targetPath);
    if (!target.empty() && std::filesystem::path(target).parent_path() != folders[0])
      folders.push_back(std::filesystem::path(target).parent_path().string());
    for (const std::string& folder : folders)
      if (std::string why = platform::WriteRefusal(folder.empty() ? "." : folder); !why.empty())
        Add(FindingKind::ReadOnly, true,
            "The folder " + platform::paths::WindowsFormOf(folder) + " cannot be written (" + why +
                "): the run makes its work files, locks" +
                (request_.link ? ", the backup of the Access file" : "") +
                " and the new database there.");
  }

  // What the catalog writer would refuse of the link-back, each reason once with its tables.
  void CheckLinkBack(dao::Database& db) {
    platform::LinkBackPlan plan;
    for (const TableFacts& table : tables_) {
      plan.renames.emplace_back(table.name, request_.prefix + table.name);
      plan.links.push_back({platform::Trim(table.name), TargetNameOf(table.name)});
    }
    plan.connect = request_.targetConnect;
    if (plan.connect.empty() && !request_.targetPath.empty())
      plan.connect =
          "ODBC;Driver=Norvane;Database=" + platform::paths::PosixFormOrMapped(request_.targetPath);
    std::vector<platform::LinkBackRefusal> refusals;
    try {
      refusals = db.LinkBackRefusals(plan);
    } catch (const platform::Error& e) {
      Add(FindingKind::RowsUnread, false,
          "What the link-back would change could not be checked: " + e.Description());
    }
    using Of = platform::LinkBackRefusal::Of;
    for (platform::LinkBackRefusal& refusal : refusals) {
      const std::string count = std::to_string(refusal.names.size());
      std::string text;
      if (refusal.of == Of::File)
        text = result_.accessPath + " cannot be linked back: " + refusal.reason;
      else if (refusal.of == Of::Rename)
        text = count + " tables cannot be renamed with the prefix " + Quoted(request_.prefix) +
               " for their links: " + refusal.reason + " Choose another prefix.";
      else if (refusal.of == Of::Link)
        text = count + " tables cannot be linked under their own names: " + refusal.reason;
      else
        text = "No table can be linked to " + platform::paths::WindowsFormOf(request_.targetPath) +
               ": the Access file cannot hold its connect string: " + refusal.reason +
               " Move the files to a folder whose path the Access file can hold.";
      if (refusal.names.size() > kListedKeys) refusal.names.resize(kListedKeys);
      Add(FindingKind::LinkBackRefused, true, text, std::move(refusal.names));
    }
  }

  void OpenFailed(const platform::Error& e) {
    const std::string what = platform::LowerAscii(e.Description());
    const std::string file = result_.accessPath;
    if (what.find("password") != std::string::npos || what.find("encrypt") != std::string::npos)
      Add(FindingKind::Encrypted, true,
          file + " is encrypted or password-protected (or damaged) and cannot be migrated: " +
              e.Description());
    else if (e.Number() == dao::err::kUnrecognizedFormat)
      Add(FindingKind::NotAccessFile, true,
          file + " is not an Access database that can be read: " + e.Description());
    else
      Add(FindingKind::CannotOpen, true, file + " cannot be opened: " + e.Description());
  }

  void Walk(dao::Database& db) {
    dao::TableDefCollection& defs = db.TableDefs();
    const int count = defs.Count();
    for (int position = 0; position < count; ++position) {
      const std::shared_ptr<dao::TableDef> def = defs.Item(position);
      TableFacts facts{def->Name(), def->Connect(), {}, {}};
      all_.push_back(facts.name);
      if (dao::IsSystemTable(*def)) continue;
      result_.tables.push_back(facts.name);
      if (platform::IsOdbcConnect(facts.connect)) {
        links_.push_back(facts);
        continue;
      }
      facts.indexes = def->Indexes();
      try {
        facts.fields = def->FieldNames();
      } catch (const platform::Error&) {
        // An engine that lists no fields: the column names go unchecked.
      }
      tables_.push_back(std::move(facts));
    }
    relations_ = db.Relations();

    CheckEarlierRun();
    CheckTargetNames();
    if (request_.link) CheckPrefixedNames();
    if (request_.link) CheckLinkBack(db);
    CheckUnwritableNames();
    CheckKeysAndRelations(db);
    for (const TableFacts& table : tables_) CheckUniqueIndex(table);
  }

  void CheckEarlierRun() {
    const std::string target = platform::paths::PosixFormOrMapped(request_.targetPath);
    const std::string needle = platform::LowerAscii("Database=" + target);
    std::vector<std::string> intoTarget, renamed;
    for (const TableFacts& link : links_) {
      if (!target.empty() && platform::LowerAscii(link.connect).find(needle) != std::string::npos)
        intoTarget.push_back(link.name);
      if (request_.prefix.empty()) continue;
      for (const std::string& name : all_)
        if (platform::EqualsNoCase(name, request_.prefix + link.name)) renamed.push_back(name);
    }
    const bool recorded =
        HasLiveLinkBackRecord(platform::paths::PosixFormOrMapped(request_.accessPath));
    if (intoTarget.empty() && renamed.empty() && !recorded) return;
    std::string text = result_.accessPath + " was already migrated and linked by an earlier run";
    if (!intoTarget.empty())
      text += ": " + std::to_string(intoTarget.size()) + " of its tables are links into " +
              platform::paths::WindowsFormOf(request_.targetPath);
    if (!renamed.empty())
      text += std::string(intoTarget.empty() ? ": " : ", and ") + std::to_string(renamed.size()) +
              " tables carry the prefix \"" + request_.prefix + "\"";
    text +=
        ". A second run would rename the renamed tables again and link the old ones. Restore "
        "the backup first (\"Restore\" on the final page, or norvane-migrate --restore FILE).";
    std::vector<std::string> names = intoTarget;
    names.insert(names.end(), renamed.begin(), renamed.end());
    if (names.size() > kListedKeys) names.resize(kListedKeys);
    Add(FindingKind::AlreadyLinked, true, text, names);
  }

  void CheckTargetNames() {
    std::map<std::string, std::vector<std::string>> byTarget;
    std::vector<std::string> order;
    for (const TableFacts& table : tables_) {
      const std::string key = platform::LowerAscii(TargetNameOf(table.name));
      if (byTarget[key].empty()) order.push_back(key);
      byTarget[key].push_back(table.name);
    }
    for (const std::string& key : order) {
      const auto& names = byTarget[key];
      if (names.size() < 2) continue;
      std::string list;
      for (const std::string& name : names) list += (list.empty() ? "" : " and ") + Quoted(name);
      Add(FindingKind::TargetNameCollision, false,
          "The tables " + list + " all become " + Quoted(TargetNameOf(names.front())) +
              " on the target: only the first one can be copied.");
    }
  }

  void CheckPrefixedNames() {
    for (const TableFacts& table : tables_) {
      const std::string renamed = request_.prefix + table.name;
      for (const std::string& name : all_)
        if (platform::EqualsNoCase(name, renamed))
          Add(FindingKind::PrefixCollision, false,
              "The table " + Quoted(table.name) + " cannot be renamed to " + Quoted(renamed) +
                  " for its link: a table of that name exists.");
    }
  }

  void CheckUnwritableNames() {
    for (const TableFacts& table : tables_) {
      const std::string target = TargetNameOf(table.name);
      std::string why;
      if (platform::Trim(table.name).empty())
        why = "it is blank";
      else if (platform::StartsWithNoCase(target, "sqlite_"))
        why = "names beginning with \"sqlite_\" are reserved on the target";
      else if (table.name.find_first_of("[]") != std::string::npos)
        why = "it holds a square bracket";
      else if (!Quotable(table.name))
        why = "it holds a control character";
      if (!why.empty())
        Add(FindingKind::UnwritableName, false,
            "The table name " + Quoted(table.name) + " cannot be taken by the target: " + why +
                ".");
      for (const std::string& field : table.fields)
        if (!Quotable(field) || platform::Trim(field).empty())
          Add(FindingKind::UnwritableName, false,
              "The field " + Quoted(field) + " of table " + Quoted(table.name) +
                  " cannot be taken by the target: it is blank or holds a control character.");
    }
  }

  static bool Quotable(const std::string& name) {
    try {
      platform::QuoteName(name, platform::QuotedIn::kScriptLine);
      return true;
    } catch (const platform::Error&) {
      return false;
    }
  }

  // The sorted keys one check needs of a table's rows.
  struct KeyRead {
    std::string table;  // as the check names it
    std::vector<std::string> fields;
    bool numbered = true;  // keys keep their row's position (not needed for parents)
    bool primary = false;  // rows with a NULL are counted, the first kListedKeys listed
    // A child side whose parents are all held in memory: each key is looked up as its row comes
    // and nothing is kept.
    const KeyRead* parents = nullptr;
    std::unique_ptr<platform::KeySorter> sorted;
    std::size_t nullRows = 0;
    std::vector<std::string> nullKeys;
    DuplicateTally duplicates;  // of the primary key while its keys come in order
    std::size_t orphans = 0;    // of a child side looked up against its parents
    FirstKeys orphanKeys;
    bool done = false;                  // its table's pass is over
    std::optional<std::string> unread;  // why the rows could not be read
  };

  std::unique_ptr<KeyRead> NewRead(std::string table, std::vector<std::string> fields,
                                   bool numbered, bool primary) const {
    auto read = std::make_unique<KeyRead>();
    read->table = std::move(table);
    read->fields = std::move(fields);
    read->numbered = numbered;
    read->primary = primary;
    return read;
  }

  // Feeds every read of `table` from one pass over its rows. When that pass fails, each read is
  // made on its own, so that each fails or not as it would alone.
  void ReadKeys(dao::Database& db, const TableFacts& table, const std::vector<KeyRead*>& reads) {
    std::vector<std::string> fields;
    std::vector<std::vector<std::size_t>> positions(reads.size());
    for (std::size_t r = 0; r < reads.size(); ++r)
      for (const std::string& field : reads[r]->fields) {
        std::size_t at = 0;
        while (at < fields.size() && !platform::EqualsNoCase(fields[at], field)) ++at;
        if (at == fields.size()) fields.push_back(field);
        positions[r].push_back(at);
      }
    if (reads.size() > 1 && FeedKeys(db, table.name, fields, reads, positions)) return;
    for (KeyRead* read : reads) {
      std::vector<std::size_t> own(read->fields.size());
      for (std::size_t i = 0; i < own.size(); ++i) own[i] = i;
      FeedKeys(db, read->table, read->fields, {read}, {own});
    }
  }

  // One pass: `fields` of every row of `table`, each read taking its `positions` of them.
  // False (with each read's `unread` set) when the rows cannot be read.
  bool FeedKeys(dao::Database& db, const std::string& table, const std::vector<std::string>& fields,
                const std::vector<KeyRead*>& reads,
                const std::vector<std::vector<std::size_t>>& positions) {
    // The memory for keys is shared by the sorters of one pass, less what parents kept for a
    // later pass hold.
    std::size_t sorters = 0;
    for (KeyRead* read : reads) sorters += read->parents ? 0 : 1;
    for (KeyRead* read : reads) {
      read->sorted.reset();
      if (!read->parents)
        read->sorted =
            std::make_unique<platform::KeySorter>((keyMemory_ - kept_) / sorters, streamKeys_);
      read->nullRows = 0;
      read->nullKeys.clear();
      read->duplicates = {};
      read->orphans = 0;
      read->orphanKeys = {};
    }
    std::uint64_t position = 0;
    std::string packed;
    try {
      std::unique_ptr<dao::Recordset> rows = db.OpenRecordset(table, fields);
      Row row;
      while (rows->Next(row)) {
        for (std::size_t r = 0; r < reads.size(); ++r) {
          KeyRead& read = *reads[r];
          packed.clear();
          bool null = false;
          for (const std::size_t at : positions[r]) {
            if (!row[at]) {
              null = true;
              break;
            }
            platform::PackKey(packed, *row[at]);
          }
          const std::uint64_t number = read.numbered ? position : 0;
          if (null) {
            if (read.primary && ++read.nullRows <= kListedKeys)
              read.nullKeys.push_back(KeyText(row, positions[r]));
          } else if (read.parents) {
            // As in the sorted walk: each orphan key listed once, by its first row.
            if (!read.parents->sorted->Holds(packed)) {
              ++read.orphans;
              if (!read.orphanKeys.Lists(packed)) read.orphanKeys.Offer(number, packed);
            }
          } else {
            read.sorted->Add(packed, number);
            if (read.primary && read.sorted->InOrder())
              read.duplicates.Take(read.sorted->Repeats(), packed, number);
          }
        }
        ++position;
      }
    } catch (const platform::Error& e) {
      for (KeyRead* read : reads) read->unread = e.Description();
      return false;
    }
    for (KeyRead* read : reads) read->unread.reset();
    return true;
  }

  void Unread(const KeyRead& read) {
    Add(FindingKind::RowsUnread, false,
        "The rows of " + Quoted(read.table) + " could not be read for the check: " + *read.unread);
  }

  // The primary key and the relationships' sides, each table read once; findings of the keys in
  // table order, then of the relationships in their order.
  void CheckKeysAndRelations(dao::Database& db) {
    std::vector<std::unique_ptr<KeyRead>> keys(tables_.size());
    std::vector<const dao::Index*> primaries(tables_.size(), nullptr);
    for (std::size_t t = 0; t < tables_.size(); ++t) {
      for (const dao::Index& index : tables_[t].indexes)
        if (index.Primary) primaries[t] = &index;
      if (!primaries[t]) continue;
      std::vector<std::string> fields = IndexFieldNames(primaries[t]->Fields);
      if (!fields.empty()) keys[t] = NewRead(tables_[t].name, std::move(fields), true, true);
    }
    std::vector<std::unique_ptr<KeyRead>> parents(relations_.size()), children(relations_.size());
    for (std::size_t r = 0; r < relations_.size(); ++r) {
      const dao::Relation& relation = relations_[r];
      if (relation.Fields.empty() || !Migrated(relation.Table) || !Migrated(relation.ForeignTable))
        continue;
      std::vector<std::string> parentFields, childFields;
      for (const dao::RelationField& field : relation.Fields) {
        parentFields.push_back(field.Name);
        childFields.push_back(field.ForeignName);
      }
      parents[r] = NewRead(relation.Table, std::move(parentFields), false, false);
      children[r] = NewRead(relation.ForeignTable, std::move(childFields), true, false);
    }

    for (std::size_t t = 0; t < tables_.size(); ++t) {
      std::vector<KeyRead*> reads, waiting;
      if (keys[t]) reads.push_back(keys[t].get());
      for (std::size_t r = 0; r < relations_.size(); ++r) {
        if (parents[r] && Migrated(parents[r]->table) == &tables_[t])
          waiting.push_back(parents[r].get());
        if (children[r] && Migrated(children[r]->table) == &tables_[t])
          waiting.push_back(children[r].get());
      }
      reads.insert(reads.end(), waiting.begin(), waiting.end());
      if (reads.empty()) continue;
      // A child side whose parents were all kept in memory by an earlier pass is looked up.
      for (std::size_t r = 0; r < relations_.size(); ++r)
        if (children[r] && Migrated(children[r]->table) == &tables_[t] && parents[r]->done &&
            !parents[r]->unread && parents[r]->sorted->Whole())
          children[r]->parents = parents[r].get();
      ReadKeys(db, tables_[t], reads);
      for (KeyRead* read : reads) read->done = true;
      // A side waits for its other side on file, not in memory; parents in order whose children
      // come later stay in memory while they are small.
      for (KeyRead* read : waiting) {
        if (read->unread || !read->sorted) continue;
        bool keep = false;
        for (std::size_t r = 0; r < relations_.size(); ++r)
          if (parents[r].get() == read && !children[r]->done) keep = true;
        if (keep && read->sorted->Whole()) {
          read->sorted->Finish();
          if (kept_ + read->sorted->MemoryUsed() <= keyMemory_ / kKeptShare) {
            kept_ += read->sorted->MemoryUsed();
            continue;
          }
        }
        read->sorted->Release();
      }
      if (keys[t]) CheckKey(*keys[t], *primaries[t]);
      keys[t].reset();
    }
    for (std::size_t r = 0; r < relations_.size(); ++r)
      if (parents[r]) CheckOrphans(*parents[r], *children[r]);
  }

  void CheckKey(KeyRead& read, const dao::Index& primary) {
    if (read.unread) return Unread(read);
    // Keys that came in order were tallied as they came; others are tallied sorted.
    if (!read.sorted->InOrder()) {
      read.duplicates = {};
      platform::KeySorter::Entry entry;
      while (read.sorted->Next(entry)) read.duplicates.Take(entry.key, entry.number);
    }
    const std::size_t duplicateRows = read.duplicates.rows;
    const FirstKeys& duplicates = read.duplicates.keys;
    const std::string key = "the primary key (" + primary.Fields + ") of " + Quoted(read.table);
    if (read.nullRows > 0)
      Add(FindingKind::KeyNulls, false,
          std::to_string(read.nullRows) + " rows have NULL in " + key + ": the key cannot be made.",
          read.nullKeys);
    if (duplicateRows > 0)
      Add(FindingKind::KeyDuplicates, false,
          std::to_string(duplicateRows) + " rows repeat a value of " + key +
              ": the key cannot be made.",
          duplicates.Texts());
  }

  const TableFacts* Migrated(const std::string& name) const {
    for (const TableFacts& table : tables_)
      if (platform::EqualsNoCase(table.name, name)) return &table;
    return nullptr;
  }

  void CheckOrphans(KeyRead& parents, KeyRead& children) {
    if (parents.unread) return Unread(parents);
    if (children.unread) return Unread(children);
    if (children.parents) return Orphans(parents, children, children.orphans, children.orphanKeys);
    // Both sides in key order: a child key is an orphan when the parents' walk passes it. Keys
    // are listed in the order of their first row.
    std::size_t orphans = 0;
    FirstKeys keys;
    platform::KeySorter::Entry child, parent;
    bool parentLeft = parents.sorted->Next(parent);
    std::string lastOrphan;
    bool counted = false;
    while (children.sorted->Next(child)) {
      while (parentLeft && parent.key < child.key) parentLeft = parents.sorted->Next(parent);
      if (parentLeft && parent.key == child.key) continue;
      ++orphans;
      if (counted && child.key == lastOrphan) continue;
      keys.Offer(child.number, child.key);
      lastOrphan = child.key;
      counted = true;
    }
    Orphans(parents, children, orphans, keys);
  }

  void Orphans(const KeyRead& parents, const KeyRead& children, std::size_t orphans,
               const FirstKeys& keys) {
    if (orphans == 0) return;
    std::string fields;
    for (const std::string& f : children.fields) fields += (fields.empty() ? "" : ", ") + f;
    Add(FindingKind::OrphanRows, false,
        std::to_string(orphans) + " rows of " + Quoted(children.table) + " (" + fields +
            ") have no parent in " + Quoted(parents.table) + ": the foreign key will be refused.",
        keys.Texts());
  }

  void CheckUniqueIndex(const TableFacts& table) {
    for (const dao::Index& index : table.indexes)
      if (index.Unique || index.Primary) return;
    Add(FindingKind::NoUniqueIndex, false,
        "The table " + Quoted(table.name) + " has no unique index" +
            (request_.link ? ": its link will be read-only in Access." : "."));
  }

  // Of the memory for keys, the most that parents kept for a later pass take together.
  static constexpr std::size_t kKeptShare = 4;

  dao::Engine& engine_;
  const PreflightRequest& request_;
  const std::size_t keyMemory_;
  const bool streamKeys_;
  std::size_t kept_ = 0;
  PreflightResult result_;
  std::vector<std::string> all_;
  std::vector<TableFacts> tables_;
  std::vector<TableFacts> links_;
  std::vector<dao::Relation> relations_;
};

}  // namespace

bool PreflightResult::Stops() const {
  for (const Finding& finding : findings)
    if (finding.stops) return true;
  return false;
}

std::string PreflightResult::Text() const {
  std::string text;
  for (const Finding& finding : findings) {
    text += (finding.stops ? "- Stop: " : "- ") + finding.text + "\n";
    for (const std::string& key : finding.keys) text += "    " + key + "\n";
  }
  return text;
}

Gate GateOf(const PreflightResult& result) {
  Gate gate = Gate::Go;
  for (const Finding& finding : result.findings) {
    if (finding.stops) return Gate::Stop;
    gate = Gate::Confirm;
  }
  return gate;
}

PreflightRequest PreflightRequestOf(const MigrationSettings& settings) {
  return {settings.AccessDbPath,
          settings.TargetDbFileName.empty() ? std::string() : target::TargetDbFilePath(settings),
          settings.LinkTablesFlag == 1, settings.TablePrefix, ""};
}

PreflightResult RunPreflight(dao::Engine& engine, const PreflightRequest& request,
                             std::size_t keyMemory, bool streamKeys) {
  return Preflight(engine, request, keyMemory, streamKeys).Run();
}

}  // namespace engine
