#include "fakes/fake_dao.h"

#include <algorithm>
#include <list>
#include <utility>

#include "platform/error.h"
#include "platform/text.h"

namespace fakes {
namespace {

using platform::EqualsNoCase;
using platform::Error;

std::shared_ptr<TableData> FindIn(const Tables& tables, std::string_view name) {
  for (const auto& table : tables)
    if (EqualsNoCase(table->name, name)) return table;
  return nullptr;
}

std::vector<std::string> NamesOf(const Tables& tables) {
  std::vector<std::string> names;
  for (const auto& table : tables) names.push_back(table->name);
  return names;
}

[[noreturn]] void ThrowClosed() {
  throw Error(dao::err::kObjectClosed, "Object invalid or no longer set.");
}

}  // namespace

struct FakeState {
  struct Rule {
    std::string prefix;
    int number;
    std::string description;
    int times;
  };

  dao::DataSourceChooser* chooser = nullptr;
  std::list<AccessFile> files;  // a list: tables keep pointers to their file's collection
  std::list<DataSource> sources;
  std::vector<std::string> calls;
  std::vector<Rule> rules;
  int openObjects = 0;
  dao::BeforeCatalogReplace beforeReplace;
  std::optional<std::pair<std::string, std::string>> replacePaths;  // backup, changed

  // Records the call, then fails it when a rule says so.
  void Call(std::string text) {
    calls.push_back(std::move(text));
    for (Rule& rule : rules) {
      if (rule.times == 0 || !calls.back().starts_with(rule.prefix)) continue;
      if (rule.times > 0) --rule.times;
      throw Error(rule.number, rule.description);
    }
  }

  DataSource* SourceByConnect(std::string_view connect) {
    for (DataSource& source : sources)
      if ("ODBC;" + source.completed == connect) return &source;
    return nullptr;
  }
};

TableData& AccessFile::AddTable(const std::string& name, std::vector<std::string> columns,
                                std::vector<dao::Index> indexes, int rows) {
  tables.push_back(std::make_shared<TableData>(
      TableData{name, std::move(columns), rows, std::move(indexes), "", ""}));
  return *tables.back();
}
std::vector<std::string> AccessFile::TableNames() const {
  return NamesOf(tables);
}
std::shared_ptr<TableData> AccessFile::Find(std::string_view name) const {
  return FindIn(tables, name);
}
std::vector<std::string> DataSource::TableNames() const {
  return NamesOf(tables);
}
std::shared_ptr<TableData> DataSource::Find(std::string_view name) const {
  return FindIn(tables, name);
}

namespace {

class FakeTableDef : public dao::TableDef {
 public:
  FakeTableDef(std::shared_ptr<FakeState> state, std::shared_ptr<TableData> data, std::string owner,
               Tables* collection)
      : state_(std::move(state)),
        data_(std::move(data)),
        owner_(std::move(owner)),
        collection_(collection) {}

  std::string Name() const override { return data_->name; }
  std::uint32_t Attributes() const override { return data_->attributes; }
  void SetName(const std::string& name) override {
    Call(".SetName(" + name + ")");
    if (collection_ != nullptr) {
      const auto other = FindIn(*collection_, name);
      if (other && other != data_)
        throw Error(dao::err::kObjectExists, "Object '" + name + "' already exists.");
    }
    data_->name = name;
  }
  std::string Connect() const override { return data_->connect; }
  void SetConnect(const std::string& connect) override {
    Call(".SetConnect(" + connect + ")");
    data_->connect = connect;
  }
  std::string SourceTableName() const override { return data_->sourceTableName; }
  std::vector<dao::Field> Fields() override { return data_->fields; }
  std::string ValidationRule() override { return data_->validationRule; }
  void SetSourceTableName(const std::string& name) override {
    Call(".SetSourceTableName(" + name + ")");
    data_->sourceTableName = name;
  }
  dao::Index CreateIndex(const std::string& name) override {
    Call(".CreateIndex(" + name + ")");
    return dao::Index{name, "", false, false};
  }
  std::vector<dao::Index> Indexes() override {
    Call(".Indexes()");
    return data_->indexes;
  }
  std::vector<std::string> FieldNames() const override { return data_->columns; }
  void AppendIndex(const dao::Index& index) override {
    Call(".AppendIndex(" + index.Name + "," + index.Fields +
         ",unique=" + (index.Unique ? "1" : "0") + ",primary=" + (index.Primary ? "1" : "0") + ")");
    for (const auto& existing : data_->indexes)
      if (EqualsNoCase(existing.Name, index.Name))
        throw Error(dao::err::kObjectExists, "Index '" + index.Name + "' already exists.");
    if (index.Fields.empty())
      throw Error(dao::err::kUnsupported, "No field defined--cannot append Index.");
    std::size_t start = 0;
    while (start <= index.Fields.size()) {
      const std::size_t end = std::min(index.Fields.find(';', start), index.Fields.size());
      std::string field = index.Fields.substr(start, end - start);
      if (!field.empty() && (field[0] == '+' || field[0] == '-')) field.erase(0, 1);
      bool known = false;
      for (const auto& column : data_->columns) known = known || EqualsNoCase(column, field);
      if (!known) throw Error(dao::err::kItemNotFound, "Field '" + field + "' not found.");
      start = end + 1;
    }
    data_->indexes.push_back(index);
  }

  const std::shared_ptr<TableData>& data() const { return data_; }
  bool attached() const { return collection_ != nullptr; }
  void Attach(std::string owner, Tables* collection) {
    owner_ = std::move(owner);
    collection_ = collection;
  }

 private:
  void Call(const std::string& operation) const {
    state_->Call(owner_ + ".TableDef(" + data_->name + ")" + operation);
  }

  std::shared_ptr<FakeState> state_;
  std::shared_ptr<TableData> data_;
  std::string owner_;
  Tables* collection_;  // the database's tables once appended; null before
};

class FakeDatabase;

class FakeTableDefs : public dao::TableDefCollection {
 public:
  explicit FakeTableDefs(FakeDatabase& db) : db_(db) {}
  int Count() override;
  std::shared_ptr<dao::TableDef> Item(int position) override;
  std::shared_ptr<dao::TableDef> Item(const std::string& name) override;
  void Refresh() override;
  void Append(const std::shared_ptr<dao::TableDef>& table) override;

 private:
  FakeDatabase& db_;
};

class FakeDatabase : public dao::Database {
 public:
  FakeDatabase(std::shared_ptr<FakeState> state, AccessFile* file, DataSource* source,
               bool exclusive, std::string connect)
      : state_(std::move(state)),
        file_(file),
        source_(source),
        exclusive_(exclusive),
        connect_(std::move(connect)),
        defs_(*this),
        openedAtCall_(state_->calls.size()) {
    if (source_ != nullptr) visible_ = source_->tables;
  }
  ~FakeDatabase() override { Release(); }

  std::string Connect() const override {
    Call(".Connect");
    Check();
    return connect_;
  }
  dao::TableDefCollection& TableDefs() override { return defs_; }
  void PrepareChanges() override {
    Call(".PrepareChanges()");
    Check();
  }
  std::vector<dao::Relation> Relations() override {
    Call(".Relations()");
    Check();
    return file_ != nullptr ? file_->relations : std::vector<dao::Relation>{};
  }
  void Execute(const std::string& sql) override {
    Call(".Execute(" + sql + ")");
    Check();
    if (file_ == nullptr) throw Error(dao::err::kUnsupported, "Unsupported statement: " + sql);
    Transfer(sql);
  }
  std::shared_ptr<dao::TableDef> CreateTableDef(const std::string& name) override {
    Call(".CreateTableDef(" + name + ")");
    Check();
    return std::make_shared<FakeTableDef>(
        state_, std::make_shared<TableData>(TableData{name, {}, 0, {}, "", ""}), "New", nullptr);
  }
  // An Access file renamed or linked in since the open is replaced at the close, after the
  // engine's hook (as the real catalog writer does).
  void Close() override {
    Call(".Close()");
    Check();
    const bool changed =
        file_ != nullptr && std::any_of(state_->calls.begin() + static_cast<long>(openedAtCall_),
                                        state_->calls.end(), [](const std::string& call) {
                                          return call.find(").SetName(") != std::string::npos ||
                                                 call.starts_with("Access.TableDefs.Append(");
                                        });
    Release();
    if (changed && state_->beforeReplace && state_->replacePaths)
      state_->beforeReplace(state_->replacePaths->first, state_->replacePaths->second);
  }
  std::unique_ptr<dao::Recordset> OpenRecordset(const std::string& table,
                                                const std::vector<std::string>& fields) override;

  // Ends the database's hold on its file, as Close or the release of the last reference does.
  void Release() {
    if (closed_) return;
    closed_ = true;
    --state_->openObjects;
    if (file_ != nullptr) --(exclusive_ ? file_->exclusiveOpens : file_->sharedOpens);
  }

  void Call(const std::string& operation) const { state_->Call(Label() + operation); }
  void Check() const {
    if (closed_) ThrowClosed();
  }
  std::string Label() const { return file_ != nullptr ? "Access" : "Target"; }
  // What the collection enumerates: the file's tables, or the target's as of the last refresh.
  Tables& List() { return file_ != nullptr ? file_->tables : visible_; }
  Tables& Store() { return file_ != nullptr ? file_->tables : source_->tables; }
  void RefreshList() {
    if (source_ != nullptr) visible_ = source_->tables;
  }
  FakeState& state() { return *state_; }
  const std::shared_ptr<FakeState>& shared_state() const { return state_; }

 private:
  // select * into [<connect>].[<table>] from [<source>]
  void Transfer(const std::string& sql) {
    const std::string head = "select * into [";
    const std::size_t dot = sql.find("].[");
    const std::size_t from = dot == std::string::npos ? dot : sql.find("] from [", dot + 3);
    if (!sql.starts_with(head) || from == std::string::npos || !sql.ends_with("]"))
      throw Error(dao::err::kUnsupported, "Unsupported statement: " + sql);
    const std::string connect = sql.substr(head.size(), dot - head.size());
    const std::string table = sql.substr(dot + 3, from - dot - 3);
    const std::size_t sourceStart = from + 8;
    const std::string sourceName = sql.substr(sourceStart, sql.size() - 1 - sourceStart);

    const auto source = file_->Find(sourceName);
    if (!source)
      throw Error(dao::err::kItemNotFound,
                  "The database engine cannot find the input table or query '" + sourceName + "'.");
    std::vector<std::string> columns = source->columns;
    int rows = source->rows;
    if (!source->connect.empty()) {
      DataSource* linked = state_->SourceByConnect(source->connect);
      const auto linkedTable = linked != nullptr ? linked->Find(source->sourceTableName) : nullptr;
      if (!linkedTable) throw Error(dao::err::kOdbcCallFailed, "ODBC--call failed.");
      columns = linkedTable->columns;
      rows = linkedTable->rows;
    }
    DataSource* target = state_->SourceByConnect(connect);
    if (target == nullptr)
      throw Error(dao::err::kOdbcCallFailed, "ODBC--connection to '" + connect + "' failed.");
    if (target->Find(table))
      throw Error(dao::err::kObjectExists, "Table '" + table + "' already exists.");
    target->tables.push_back(
        std::make_shared<TableData>(TableData{table, columns, rows, {}, "", ""}));
  }

  std::shared_ptr<FakeState> state_;
  AccessFile* file_;
  DataSource* source_;
  bool exclusive_;
  std::string connect_;
  FakeTableDefs defs_;
  std::size_t openedAtCall_;
  Tables visible_;
  bool closed_ = false;
};

int FakeTableDefs::Count() {
  db_.Call(".TableDefs.Count()");
  db_.Check();
  return static_cast<int>(db_.List().size());
}

std::shared_ptr<dao::TableDef> FakeTableDefs::Item(int position) {
  db_.Call(".TableDefs.Item(" + std::to_string(position) + ")");
  db_.Check();
  if (position < 0 || static_cast<std::size_t>(position) >= db_.List().size())
    throw Error(dao::err::kItemNotFound, "Item not found in this collection.");
  return std::make_shared<FakeTableDef>(db_.shared_state(),
                                        db_.List()[static_cast<std::size_t>(position)], db_.Label(),
                                        &db_.Store());
}

std::shared_ptr<dao::TableDef> FakeTableDefs::Item(const std::string& name) {
  db_.Call(".TableDefs.Item(" + name + ")");
  db_.Check();
  const auto table = FindIn(db_.List(), name);
  if (!table) throw Error(dao::err::kItemNotFound, "Item not found in this collection.");
  return std::make_shared<FakeTableDef>(db_.shared_state(), table, db_.Label(), &db_.Store());
}

void FakeTableDefs::Refresh() {
  db_.Call(".TableDefs.Refresh()");
  db_.Check();
  db_.RefreshList();
}

void FakeTableDefs::Append(const std::shared_ptr<dao::TableDef>& table) {
  db_.Call(".TableDefs.Append(" + (table ? table->Name() : std::string("Nothing")) + ")");
  db_.Check();
  const auto fake = std::dynamic_pointer_cast<FakeTableDef>(table);
  if (!fake) throw Error(dao::err::kObjectClosed, "Object invalid or no longer set.");
  const TableData& data = *fake->data();
  if (fake->attached() || FindIn(db_.Store(), data.name))
    throw Error(dao::err::kObjectExists, "Object '" + data.name + "' already exists.");
  if (data.name.empty()) throw Error(dao::err::kUnsupported, "Invalid name for a table.");
  if (!data.connect.empty()) {
    DataSource* source = db_.state().SourceByConnect(data.connect);
    if (source == nullptr)
      throw Error(dao::err::kOdbcCallFailed, "ODBC--connection to '" + data.connect + "' failed.");
    const auto linked = source->Find(data.sourceTableName);
    if (!linked)
      throw Error(dao::err::kItemNotFound,
                  "Could not find the object '" + data.sourceTableName + "' on the data source.");
    fake->data()->columns = linked->columns;
  }
  db_.Store().push_back(fake->data());
  if (&db_.Store() != &db_.List()) db_.List().push_back(fake->data());
  fake->Attach(db_.Label(), &db_.Store());
}

// The rows of a fake table, as OpenRecordset reads them.
class FakeRecordset : public dao::Recordset {
 public:
  FakeRecordset(std::shared_ptr<TableData> data, std::vector<std::size_t> positions)
      : data_(std::move(data)), positions_(std::move(positions)) {}
  bool Next(std::vector<std::optional<std::string>>& values) override {
    const bool given = !data_->values.empty();
    const std::size_t count = given ? data_->values.size() : static_cast<std::size_t>(data_->rows);
    if (row_ >= count) return false;
    values.clear();
    for (std::size_t p : positions_)
      values.push_back(given ? data_->values[row_].at(p) : std::to_string(row_ + 1));
    ++row_;
    return true;
  }

 private:
  std::shared_ptr<TableData> data_;
  std::vector<std::size_t> positions_;
  std::size_t row_ = 0;
};

std::unique_ptr<dao::Recordset> FakeDatabase::OpenRecordset(
    const std::string& table, const std::vector<std::string>& fields) {
  Call(".OpenRecordset(" + table + ")");
  Check();
  const auto data = FindIn(List(), table);
  if (!data) throw Error(dao::err::kItemNotFound, "No table '" + table + "'.");
  std::vector<std::size_t> positions;
  for (const std::string& field : fields) {
    std::size_t p = 0;
    while (p < data->columns.size() && !EqualsNoCase(data->columns[p], field)) ++p;
    if (p == data->columns.size())
      throw Error(dao::err::kItemNotFound, "No field '" + field + "' in '" + table + "'.");
    positions.push_back(p);
  }
  return std::make_unique<FakeRecordset>(data, std::move(positions));
}

class FakeWorkspace : public dao::Workspace {
 public:
  FakeWorkspace(std::shared_ptr<FakeState> state, std::string name)
      : state_(std::move(state)), name_(std::move(name)) {}
  ~FakeWorkspace() override {
    if (!closed_) --state_->openObjects;
  }

  std::shared_ptr<dao::Database> OpenDatabase(const std::string& name, dao::OpenOptions options,
                                              const std::string& connect) override {
    state_->Call("Workspace(" + name_ + ").OpenDatabase(" + name + "," +
                 (options.exclusive ? "exclusive" : "shared") + "," +
                 (options.readOnly ? "read-only" : "read-write") + "," + connect + ")");
    if (closed_) ThrowClosed();
    std::shared_ptr<FakeDatabase> db = platform::StartsWithNoCase(connect, "ODBC;")
                                           ? OpenTarget(connect.substr(5))
                                           : OpenAccess(name, options.exclusive);
    ++state_->openObjects;
    databases_.push_back(db);
    return db;
  }

  void Close() override {
    state_->Call("Workspace(" + name_ + ").Close()");
    if (closed_) ThrowClosed();
    closed_ = true;
    --state_->openObjects;
    for (const auto& weak : databases_)
      if (const auto db = weak.lock()) db->Release();
  }

 private:
  std::shared_ptr<FakeDatabase> OpenTarget(const std::string& rest) {
    std::string chosen = rest;
    if (EqualsNoCase(rest, "dsn=")) {
      state_->Call("ChooseDataSource()");
      if (state_->chooser == nullptr)
        throw Error(dao::err::kOdbcCallFailed, "ODBC--call failed: no data-source chooser.");
      const std::optional<std::string> answer = state_->chooser->ChooseDataSource();
      if (!answer) throw Error(dao::err::kOdbcCancelled, "Operation canceled by user.");
      chosen = *answer;
    }
    for (DataSource& source : state_->sources)
      if (EqualsNoCase(source.chosen, chosen))
        return std::make_shared<FakeDatabase>(state_, nullptr, &source, false,
                                              "ODBC;" + source.completed);
    throw Error(dao::err::kOdbcCallFailed, "ODBC--connection to '" + chosen + "' failed.");
  }

  std::shared_ptr<FakeDatabase> OpenAccess(const std::string& path, bool exclusive) {
    for (AccessFile& file : state_->files) {
      if (!EqualsNoCase(file.path, path)) continue;
      if (exclusive ? file.Held() : (file.openElsewhere || file.exclusiveOpens > 0))
        throw Error(dao::err::kCouldNotLock, "Could not use '" + path + "'; file already in use.");
      ++(exclusive ? file.exclusiveOpens : file.sharedOpens);
      return std::make_shared<FakeDatabase>(state_, &file, nullptr, exclusive, "");
    }
    throw Error(dao::err::kFileNotFound, "Could not find file '" + path + "'.");
  }

  std::shared_ptr<FakeState> state_;
  std::string name_;
  bool closed_ = false;
  std::vector<std::weak_ptr<FakeDatabase>> databases_;
};

}  // namespace

FakeEngine::FakeEngine(dao::DataSourceChooser* chooser) : state_(std::make_shared<FakeState>()) {
  state_->chooser = chooser;
}
FakeEngine::~FakeEngine() = default;

void FakeEngine::SetChooser(dao::DataSourceChooser* chooser) {
  state_->chooser = chooser;
}

AccessFile& FakeEngine::AddAccessFile(const std::string& path) {
  state_->files.push_back(AccessFile{});
  state_->files.back().path = path;
  return state_->files.back();
}

DataSource& FakeEngine::AddDataSource(const std::string& chosen, const std::string& completed) {
  state_->sources.push_back(DataSource{chosen, completed, {}});
  return state_->sources.back();
}

AccessFile& FakeEngine::File(std::string_view path) {
  for (AccessFile& file : state_->files)
    if (EqualsNoCase(file.path, path)) return file;
  throw Error(dao::err::kFileNotFound, "No such fake file: " + std::string(path));
}

DataSource& FakeEngine::Source(std::string_view chosen) {
  for (DataSource& source : state_->sources)
    if (EqualsNoCase(source.chosen, chosen)) return source;
  throw Error(dao::err::kItemNotFound, "No such fake data source: " + std::string(chosen));
}

void FakeEngine::SetBeforeCatalogReplace(dao::BeforeCatalogReplace hook) {
  state_->beforeReplace = std::move(hook);
}

void FakeEngine::ReplaceAtClose(std::string backup, std::string changed) {
  state_->replacePaths.emplace(std::move(backup), std::move(changed));
}

void FakeEngine::FailWhen(std::string callPrefix, int number, std::string description, int times) {
  state_->rules.push_back({std::move(callPrefix), number, std::move(description), times});
}

const std::vector<std::string>& FakeEngine::Calls() const {
  return state_->calls;
}

std::vector<std::string> FakeEngine::CallsStartingWith(std::string_view prefix) const {
  std::vector<std::string> out;
  for (const auto& call : state_->calls)
    if (call.starts_with(prefix)) out.push_back(call);
  return out;
}

std::vector<std::string> FakeEngine::Changes() const {
  static const char* const kChanging[] = {
      ".Execute(",        ".SetName(", ".SetConnect(",  ".SetSourceTableName(",
      ".CreateTableDef(", ".Append(",  ".AppendIndex(", ".Close()"};
  std::vector<std::string> out;
  for (const auto& call : state_->calls)
    for (const char* marker : kChanging)
      if (call.find(marker) != std::string::npos) {
        out.push_back(call);
        break;
      }
  return out;
}

std::vector<std::string> FakeEngine::Statements() const {
  std::vector<std::string> out;
  const std::string marker = ".Execute(";
  for (const auto& call : state_->calls) {
    const std::size_t at = call.find(marker);
    if (at != std::string::npos && call.find('(') == at + marker.size() - 1)
      out.push_back(call.substr(at + marker.size(), call.size() - at - marker.size() - 1));
  }
  return out;
}

int FakeEngine::OpenObjects() const {
  return state_->openObjects;
}

std::shared_ptr<dao::Workspace> FakeEngine::CreateWorkspace(const std::string& name,
                                                            const std::string& user,
                                                            const std::string& password,
                                                            dao::WorkspaceType type) {
  state_->Call("CreateWorkspace(" + name + "," + user + "," + password + "," +
               (type == dao::WorkspaceType::Jet ? "Jet" : "OdbcDirect") + ")");
  ++state_->openObjects;
  return std::make_shared<FakeWorkspace>(state_, name);
}

}  // namespace fakes
