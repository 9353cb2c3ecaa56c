#include "platform/access/access_engine.h"

#include <algorithm>
#include <exception>
#include <filesystem>
#include <map>
#include <set>
#include <utility>

#include "platform/access/catalog.h"
#include "platform/access/file_lock.h"
#include "platform/access/linked_targets.h"
#include "platform/access/recordset.h"
#include "platform/access/target_file.h"
#include "platform/access/transfer.h"
#include "platform/error.h"
#include "platform/odbc/odbc_database.h"
#include "platform/paths.h"
#include "platform/text.h"

namespace platform::access {
namespace {

[[noreturn]] void Closed() {
  throw Error(dao::err::kObjectClosed, "Object invalid or no longer set.");
}

[[noreturn]] void Unsupported(const std::string& what) {
  throw Error(dao::err::kUnsupported,
              "Operation is not supported for this type of object: " + what);
}

class AccessDatabase;

class AccessTableDef : public dao::TableDef {
 public:
  // A table of the open file.
  AccessTableDef(std::weak_ptr<AccessDatabase> db, TableInfo info)
      : db_(std::move(db)), info_(std::move(info)), attached_(true) {}
  // A new definition, not yet appended.
  AccessTableDef(std::weak_ptr<AccessDatabase> db, std::string name)
      : db_(std::move(db)), attached_(false) {
    info_.name = std::move(name);
  }

  std::string Name() const override { return info_.name; }
  std::uint32_t Attributes() const override { return info_.flags; }
  void SetName(const std::string& name) override;
  std::string Connect() const override { return info_.connect; }
  void SetConnect(const std::string& connect) override {
    if (attached_) Unsupported("changing the connection of a stored table");
    info_.connect = connect;
  }
  std::string SourceTableName() const override { return info_.sourceTableName; }
  void SetSourceTableName(const std::string& name) override {
    if (attached_) Unsupported("changing the source of a stored table");
    info_.sourceTableName = name;
  }
  void SetDisplayPropertiesOf(const std::string& table) override {
    if (attached_) Unsupported("changing the properties of a stored table");
    propertiesOf_ = table;
  }
  const std::string& DisplayPropertiesOf() const { return propertiesOf_; }
  dao::Index CreateIndex(const std::string& name) override {
    return dao::Index{name, "", false, false};
  }
  std::vector<dao::Index> Indexes() override { return info_.indexes; }
  void AppendIndex(const dao::Index&) override {
    Unsupported("creating an index in an Access file");
  }
  std::vector<dao::Field> Fields() override {
    std::vector<dao::Field> fields;
    for (const ColumnInfo& c : info_.columns)
      fields.push_back({c.name, c.type, c.size, c.autoNumber, c.required, c.allowZeroLength,
                        c.defaultValue, c.validationRule, c.autoNumberCounter});
    return fields;
  }
  std::string ValidationRule() override { return info_.validationRule; }
  std::vector<std::string> FieldNames() const override {
    std::vector<std::string> names;
    for (const ColumnInfo& column : info_.columns) names.push_back(column.name);
    return names;
  }

  const TableInfo& info() const { return info_; }
  void Update(TableInfo info) {
    info_ = std::move(info);
    attached_ = true;
  }
  bool attached() const { return attached_; }
  bool BelongsTo(const AccessDatabase* db) const { return db_.lock().get() == db; }

 private:
  std::weak_ptr<AccessDatabase> db_;
  TableInfo info_;
  bool attached_;
  std::string propertiesOf_;  // before Append: the table whose display properties it takes
};

class AccessTableDefs : public dao::TableDefCollection {
 public:
  explicit AccessTableDefs(AccessDatabase& db) : db_(db) {}
  int Count() override;
  std::shared_ptr<dao::TableDef> Item(int position) override;
  std::shared_ptr<dao::TableDef> Item(const std::string& name) override;
  void Refresh() override;
  void Append(const std::shared_ptr<dao::TableDef>& table) override;

 private:
  AccessDatabase& db_;
};

class AccessDatabase : public dao::Database, public std::enable_shared_from_this<AccessDatabase> {
 public:
  AccessDatabase(std::string path, std::unique_ptr<FileLock> lock, const EngineOptions& options)
      : path_(std::move(path)), lock_(std::move(lock)), options_(options), collection_(*this) {}

  void Load() { Apply(ReadCatalog(path_, options_.readTimeout)); }
  // The file as this run changed it so far (the writer's work copy until Close).
  std::string ReadPath() const { return writer_ ? writer_->CurrentPath() : path_; }

  std::string Connect() const override {
    Check();
    return "";
  }
  dao::TableDefCollection& TableDefs() override {
    Check();
    return collection_;
  }
  std::vector<dao::Relation> Relations() override {
    Check();
    return relations_;
  }
  void Execute(const std::string& sql) override;
  std::unique_ptr<dao::Recordset> OpenRecordset(const std::string& table,
                                                const std::vector<std::string>& fields) override;
  std::shared_ptr<dao::TableDef> CreateTableDef(const std::string& name) override {
    Check();
    return std::make_shared<AccessTableDef>(weak_from_this(), name);
  }
  std::vector<LinkBackRefusal> LinkBackRefusals(const LinkBackPlan& plan) override {
    Check();
    if (options_.catalogCheck == nullptr) return {};
    return options_.catalogCheck(path_, plan);
  }
  void PrepareChanges() override {
    if (options_.writerFactory != nullptr) Writer();
  }
  // The catalog changes of the run reach the file here, in one step, while the lock still holds.
  void Close() override {
    std::exception_ptr failed;
    for (auto& [name, connection] : connections_) {
      try {
        connection->Flush();
      } catch (...) {
        if (!failed) failed = std::current_exception();
      }
    }
    connections_.clear();
    if (writer_) {
      try {
        writer_->Finish();
      } catch (...) {
        failed = std::current_exception();
      }
    }
    writer_.reset();
    lock_.reset();
    tables_.clear();
    closed_ = true;
    if (failed) std::rethrow_exception(failed);
  }

  void Check() const {
    if (closed_) Closed();
  }
  std::vector<std::shared_ptr<AccessTableDef>>& tables() { return tables_; }
  std::shared_ptr<AccessTableDef> Find(const std::string& name) {
    for (auto& table : tables_)
      if (EqualsNoCase(table->Name(), name)) return table;
    return nullptr;
  }
  void Reread() {
    Check();
    Apply(ReadCatalog(ReadPath(), options_.readTimeout));
  }
  std::chrono::milliseconds ReadTimeout() const { return options_.readTimeout; }
  AccessCatalogWriter& Writer() {
    Check();
    if (options_.writerFactory == nullptr)
      Unsupported("changing the tables of an Access file (no catalog writer is available)");
    if (!writer_) {
      writer_ = options_.writerFactory(path_);
      if (writer_ && options_.beforeReplace) writer_->SetBeforeReplace(options_.beforeReplace);
    }
    if (!writer_) Unsupported("changing the tables of an Access file (the writer did not open)");
    return *writer_;
  }

 private:
  // Takes a freshly read catalog: known entries keep their position (found by id), new ones
  // follow in catalog order, vanished ones leave.
  void Apply(Catalog catalog) {
    jetVersion_ = catalog.jetVersion;
    relations_ = std::move(catalog.relations);
    std::map<std::uint32_t, TableInfo*> byId;
    for (TableInfo& info : catalog.tables) byId[info.id] = &info;
    std::vector<std::shared_ptr<AccessTableDef>> ordered;
    std::set<std::uint32_t> seen;
    for (auto& table : tables_) {
      auto it = byId.find(table->info().id);
      if (it == byId.end()) continue;
      table->Update(std::move(*it->second));
      seen.insert(it->first);
      ordered.push_back(table);
    }
    for (TableInfo& info : catalog.tables) {
      if (seen.count(info.id) != 0 || byId.count(info.id) == 0) continue;
      seen.insert(info.id);
      ordered.push_back(std::make_shared<AccessTableDef>(weak_from_this(), std::move(info)));
    }
    tables_ = std::move(ordered);
  }

  std::string path_;
  std::unique_ptr<FileLock> lock_;
  EngineOptions options_;
  AccessTableDefs collection_;
  std::vector<std::shared_ptr<AccessTableDef>> tables_;
  std::vector<dao::Relation> relations_;
  int jetVersion_ = 0;
  std::unique_ptr<AccessCatalogWriter> writer_;
  std::map<std::string, std::unique_ptr<odbc::Connection>> connections_;
  bool closed_ = false;
};

void AccessTableDef::SetName(const std::string& name) {
  if (!attached_) {
    info_.name = name;
    return;
  }
  auto db = db_.lock();
  if (!db) Closed();
  db->Check();
  if (name == info_.name) return;
  if (Trim(name).empty()) throw Error(dao::err::kUnsupported, "A table name cannot be empty.");
  auto other = db->Find(name);
  if (other && other.get() != this)
    throw Error(dao::err::kObjectExists, "Table '" + name + "' already exists.");
  db->Writer().RenameTable(info_.name, name);
  db->Reread();
}

int AccessTableDefs::Count() {
  db_.Check();
  return static_cast<int>(db_.tables().size());
}

std::shared_ptr<dao::TableDef> AccessTableDefs::Item(int position) {
  db_.Check();
  if (position < 0 || position >= Count())
    throw Error(dao::err::kItemNotFound, "Item not found in this collection.");
  return db_.tables()[static_cast<std::size_t>(position)];
}

std::shared_ptr<dao::TableDef> AccessTableDefs::Item(const std::string& name) {
  db_.Check();
  if (auto table = db_.Find(name)) return table;
  throw Error(dao::err::kItemNotFound, "Item not found in this collection: " + name + ".");
}

void AccessTableDefs::Refresh() {
  db_.Reread();
}

void AccessTableDefs::Append(const std::shared_ptr<dao::TableDef>& table) {
  db_.Check();
  auto def = std::dynamic_pointer_cast<AccessTableDef>(table);
  if (!def || !def->BelongsTo(&db_))
    Unsupported("appending a table definition made by another database");
  if (def->attached())
    throw Error(dao::err::kObjectExists, "Table '" + def->Name() + "' is already appended.");
  if (Trim(def->Name()).empty())
    throw Error(dao::err::kUnsupported, "A table name cannot be empty.");
  if (db_.Find(def->Name()))
    throw Error(dao::err::kObjectExists, "Table '" + def->Name() + "' already exists.");
  if (def->Connect().empty() || def->SourceTableName().empty())
    Unsupported("appending a table that is not linked (only linked tables can be added)");
  if (StartsWithNoCase(def->Connect(), ";DATABASE=")) {
    // As Jet does, a link to another Access file is appended only when its table is there.
    TableInfo link;
    link.name = def->Name();
    link.objectType = dao::ObjectType::kAccessLink;
    link.connect = def->Connect();
    link.sourceTableName = def->SourceTableName();
    link.database = def->Connect().substr(std::string_view(";DATABASE=").size());
    ResolveAccessLink(link, db_.ReadTimeout());
  }
  db_.Writer().AppendLinkedTable(def->Name(), def->Connect(), def->SourceTableName(),
                                 def->DisplayPropertiesOf());
  db_.Reread();
  // The appended entry is the new object of the collection.
  if (auto added = db_.Find(def->Name())) {
    def->Update(added->info());
    std::replace(db_.tables().begin(), db_.tables().end(), added, def);
  }
}

void AccessDatabase::Execute(const std::string& sql) {
  Check();
  const auto statement = ParseTransferStatement(sql);
  if (!statement)
    throw Error(dao::err::kUnsupported,
                "Unsupported statement: only \"select * into [<connect>].[<table>] from "
                "[<source>]\" can be executed: " +
                    sql);
  auto source = Find(statement->source);
  if (!source)
    throw Error(dao::err::kItemNotFound,
                "The Access table '" + statement->source + "' does not exist.");
  const TableInfo& info = source->info();
  if (info.objectType == dao::ObjectType::kOdbcLink)
    throw Error(dao::err::kUnsupported,
                "The table '" + statement->source +
                    "' is linked through ODBC; its rows are in another database and only Access "
                    "tables can be copied.");
  if (info.objectType == dao::ObjectType::kAccessLink && info.backEnd.errorNumber != 0)
    throw Error(info.backEnd.errorNumber, info.backEnd.error);
  if (info.objectType != dao::ObjectType::kTable && info.objectType != dao::ObjectType::kAccessLink)
    Unsupported("copying a table of object type " +
                std::to_string(static_cast<int>(info.objectType)));
  const std::string connection = odbc::ConnectionStringFor(statement->connect, options_.chooser);
  if (odbc::NamesPostgresDriver(connection)) {
    if (!options_.serverTransfer) Unsupported("copying a table into a PostgreSQL database");
    if (info.objectType == dao::ObjectType::kTable) {
      options_.serverTransfer(connection, ReadPath(), jetVersion_, info.name, statement->table,
                              options_.readTimeout);
      return;
    }
    std::error_code ec;
    std::unique_ptr<FileLock> backEndLock;
    if (!std::filesystem::equivalent(info.backEnd.path, path_, ec))
      backEndLock = std::make_unique<FileLock>(info.backEnd.path, false, true);
    options_.serverTransfer(connection, info.backEnd.path, info.backEnd.jetVersion,
                            info.backEnd.table, statement->table, options_.readTimeout);
    return;
  }
  // SQLite would wait on this file's lock for ever; it is no Norvane database anyway.
  if (SameFile(DatabaseFileOf(connection), path_))
    throw Error(dao::err::kUnsupported,
                "The target database is the Access file '" + path_ + "' itself.");
  auto& target = connections_[connection];
  if (!target) {
    target = std::make_unique<odbc::Connection>(connection, options_.targetLimits);
    target->DeferDiskWrites();  // written to the disk at Close()
  }
  if (info.objectType == dao::ObjectType::kTable) {
    CopyTable(ReadPath(), jetVersion_, info.name, *target, statement->table, options_.readTimeout);
    return;
  }
  // A link to another Access file: its rows come from the back-end, which is held shared while
  // they are read (unless it is this very file, held already).
  std::error_code ec;
  std::unique_ptr<FileLock> backEndLock;
  if (!std::filesystem::equivalent(info.backEnd.path, path_, ec))
    backEndLock = std::make_unique<FileLock>(info.backEnd.path, false, true);
  CopyTable(info.backEnd.path, info.backEnd.jetVersion, info.backEnd.table, *target,
            statement->table, options_.readTimeout);
}

std::unique_ptr<dao::Recordset> AccessDatabase::OpenRecordset(
    const std::string& table, const std::vector<std::string>& fields) {
  Check();
  auto source = Find(table);
  if (!source)
    throw Error(dao::err::kItemNotFound, "The Access table '" + table + "' does not exist.");
  const TableInfo& info = source->info();
  if (info.objectType == dao::ObjectType::kTable)
    return OpenTableRows(path_, info.name, fields, options_.readTimeout);
  if (info.objectType == dao::ObjectType::kAccessLink && info.backEnd.errorNumber != 0)
    throw Error(info.backEnd.errorNumber, info.backEnd.error);
  if (info.objectType == dao::ObjectType::kAccessLink)
    return OpenTableRows(info.backEnd.path, info.backEnd.table, fields, options_.readTimeout);
  Unsupported("reading the rows of a table of object type " +
              std::to_string(static_cast<int>(info.objectType)));
}

class JetWorkspace : public dao::Workspace {
 public:
  explicit JetWorkspace(EngineOptions options) : options_(options) {}

  std::shared_ptr<dao::Database> OpenDatabase(const std::string& name, dao::OpenOptions options,
                                              const std::string& connect) override {
    if (closed_) Closed();
    std::shared_ptr<dao::Database> db;
    if (IsOdbcConnect(Trim(connect))) {
      // The target must be a Norvane database nobody else is writing: anything else fails here,
      // before a table is copied (SQLite would create, overwrite or wait on it).
      const std::string connection = odbc::ConnectionStringFor(Trim(connect), options_.chooser);
      // A PostgreSQL server holds its own databases: there is no file to check.
      if (!odbc::NamesPostgresDriver(connection))
        CheckTargetFile(connection, options_.targetOpenLockWait);
      db = odbc::OpenOdbcDatabase(std::string(kOdbcPrefix) + connection, nullptr,
                                  options_.targetLimits);
    } else {
      if (LowerAscii(connect).find("pwd=") != std::string::npos)
        Unsupported("opening a password-protected Access database");
      const bool windowsForm =
          name.find('\\') != std::string::npos || (name.size() >= 2 && name[1] == ':');
      const std::string path = windowsForm ? paths::ToPosix(name).string() : name;
      auto lock = std::make_unique<FileLock>(path, options.exclusive, options.readOnly);
      if (options.exclusive && options_.recoverInterruptedChange != nullptr)
        options_.recoverInterruptedChange(path);
      auto access = std::make_shared<AccessDatabase>(path, std::move(lock), options_);
      access->Load();
      db = access;
    }
    databases_.push_back(db);
    return db;
  }

  void Close() override {
    for (auto& weak : databases_)
      if (auto db = weak.lock()) db->Close();
    databases_.clear();
    closed_ = true;
  }

 private:
  EngineOptions options_;
  std::vector<std::weak_ptr<dao::Database>> databases_;
  bool closed_ = false;
};

class RealEngine : public dao::Engine {
 public:
  explicit RealEngine(EngineOptions options) : options_(options) {}
  void SetBeforeCatalogReplace(dao::BeforeCatalogReplace hook) override {
    options_.beforeReplace = std::move(hook);
  }
  std::shared_ptr<dao::Workspace> CreateWorkspace(const std::string&, const std::string&,
                                                  const std::string&,
                                                  dao::WorkspaceType type) override {
    if (type != dao::WorkspaceType::Jet) Unsupported("ODBCDirect workspaces");
    return std::make_shared<JetWorkspace>(options_);
  }

 private:
  EngineOptions options_;
};

}  // namespace

std::shared_ptr<dao::Engine> CreateEngine(const EngineOptions& options) {
  return std::make_shared<RealEngine>(options);
}

}  // namespace platform::access
