#include "platform/odbc/odbc_database.h"

#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/quoting.h"
#include "platform/text.h"

namespace platform::odbc {
namespace {

[[noreturn]] void Unsupported(const std::string& what) {
  throw Error(dao::err::kUnsupported,
              "Operation is not supported for this type of object: " + what);
}

class OdbcTableDef : public dao::TableDef {
 public:
  OdbcTableDef(std::shared_ptr<Connection> connection, std::string name)
      : connection_(std::move(connection)), name_(std::move(name)) {}

  std::string Name() const override { return name_; }
  std::uint32_t Attributes() const override { return 0; }
  void SetName(const std::string&) override { Unsupported("renaming a table of an ODBC target"); }
  std::string Connect() const override { return ""; }
  void SetConnect(const std::string&) override { Unsupported("linking an ODBC target table"); }
  std::string SourceTableName() const override { return ""; }
  void SetSourceTableName(const std::string&) override {
    Unsupported("linking an ODBC target table");
  }
  dao::Index CreateIndex(const std::string& name) override {
    return dao::Index{name, "", false, false};
  }

  std::vector<dao::Index> Indexes() override {
    Statement statement(*connection_);
    std::string table = name_;
    statement.Check(SQLStatistics(statement.get(), nullptr, 0, nullptr, 0,
                                  reinterpret_cast<SQLCHAR*>(table.data()),
                                  static_cast<SQLSMALLINT>(table.size()), SQL_INDEX_ALL, SQL_QUICK),
                    "reading the indexes of " + name_);
    std::vector<dao::Index> indexes;
    while (true) {
      const SQLRETURN rc = SQLFetch(statement.get());
      if (rc == SQL_NO_DATA) break;
      statement.Check(rc, "reading the indexes of " + name_);
      std::string indexName, nonUnique, column, order;
      if (!statement.GetText(6, indexName)) continue;  // table statistics row
      statement.GetText(4, nonUnique);
      statement.GetText(9, column);
      statement.GetText(10, order);
      if (indexes.empty() || indexes.back().Name != indexName) {
        indexes.push_back(dao::Index{indexName, "", nonUnique == "0", false});
      } else {
        indexes.back().Fields += ";";
      }
      indexes.back().Fields += (order == "D" ? "-" : "+") + column;
    }
    return indexes;
  }

  // On PostgreSQL the primary index is the table's key constraint, so that a link made next
  // finds the key the server reports.
  void AppendIndex(const dao::Index& index) override {
    connection_->ExecDirect(index.Primary && EqualsNoCase(connection_->DbmsName(), "PostgreSQL")
                                ? AddPrimaryKeyStatement(name_, index)
                                : CreateIndexStatement(name_, index));
  }

 private:
  std::shared_ptr<Connection> connection_;
  std::string name_;
};

class OdbcTableDefs : public dao::TableDefCollection {
 public:
  explicit OdbcTableDefs(std::shared_ptr<Connection> connection)
      : connection_(std::move(connection)) {
    Refresh();
  }
  int Count() override { return static_cast<int>(names_.size()); }
  std::shared_ptr<dao::TableDef> Item(int position) override {
    if (position < 0 || position >= Count())
      throw Error(dao::err::kItemNotFound, "Item not found in this collection.");
    return std::make_shared<OdbcTableDef>(connection_, names_[static_cast<std::size_t>(position)]);
  }
  std::shared_ptr<dao::TableDef> Item(const std::string& name) override {
    for (const std::string& n : names_)
      if (EqualsNoCase(n, name)) return std::make_shared<OdbcTableDef>(connection_, n);
    throw Error(dao::err::kItemNotFound, "Item not found in this collection: " + name + ".");
  }
  void Refresh() override { names_ = connection_->TableNames(); }
  void Append(const std::shared_ptr<dao::TableDef>&) override {
    Unsupported("appending a table definition to an ODBC target");
  }

 private:
  std::shared_ptr<Connection> connection_;
  std::vector<std::string> names_;
};

class OdbcDatabase : public dao::Database {
 public:
  explicit OdbcDatabase(const std::shared_ptr<Connection>& connection)
      : connection_(connection), tables_(std::make_unique<OdbcTableDefs>(connection)) {}

  std::string Connect() const override {
    Open();
    return std::string(kOdbcPrefix) + connection_->CompletedString();
  }
  dao::TableDefCollection& TableDefs() override {
    Open();
    return *tables_;
  }
  std::vector<dao::Relation> Relations() override {
    Open();
    return {};
  }
  void Execute(const std::string&) override {
    Open();
    Unsupported("executing a Jet statement on an ODBC target");
  }
  std::shared_ptr<dao::TableDef> CreateTableDef(const std::string&) override {
    Open();
    Unsupported("creating a table definition on an ODBC target");
  }
  // The commits made through it reach the disk here (the connection defers them).
  void Close() override {
    tables_.reset();
    if (auto connection = std::move(connection_)) connection->Flush();
  }

 private:
  void Open() const {
    if (!connection_) throw Error(dao::err::kObjectClosed, "Object invalid or no longer set.");
  }
  std::shared_ptr<Connection> connection_;
  std::unique_ptr<OdbcTableDefs> tables_;
};

}  // namespace

std::string ConnectionStringFor(const std::string& connect, dao::DataSourceChooser* chooser) {
  if (!IsOdbcConnect(connect))
    throw Error(dao::err::kUnsupported,
                "The connect string '" + connect + "' does not name an ODBC data source.");
  const std::string rest = WithoutOdbcPrefix(connect);
  bool namesSource = false;
  std::string others;
  for (const auto& [key, value] : ParseConnectionString(rest)) {
    if (EqualsNoCase(key, "DSN") || EqualsNoCase(key, "DRIVER") || EqualsNoCase(key, "FILEDSN")) {
      if (!Trim(value).empty()) namesSource = true;
      if (EqualsNoCase(key, "DSN") && Trim(value).empty()) continue;
    }
    if (key.empty()) continue;
    others += (others.empty() ? "" : ";") + key + "=" + value;
  }
  if (namesSource) return rest;
  std::optional<std::string> chosen;
  if (chooser != nullptr) chosen = chooser->ChooseDataSource();
  if (!chosen)
    throw Error(dao::err::kOdbcCancelled, "ODBC--connection to the data source was cancelled.");
  return others.empty() ? *chosen : *chosen + ";" + others;
}

namespace {

// The quoted columns of the field list "+A;-B", each with its order when `withOrder`.
std::string IndexColumns(const dao::Index& index, bool withOrder) {
  std::string columns;
  const std::string fields = Trim(index.Fields);
  std::size_t start = 0;
  while (start <= fields.size()) {
    std::size_t end = fields.find(';', start);
    if (end == std::string::npos) end = fields.size();
    std::string part = fields.substr(start, end - start);
    std::string order = " ASC";
    if (!part.empty() && (part[0] == '+' || part[0] == '-')) {
      if (part[0] == '-') order = " DESC";
      part.erase(0, 1);
    }
    if (part.empty())
      throw Error(
          dao::err::kUnsupported,
          "The index '" + index.Name + "' has an invalid field list '" + index.Fields + "'.");
    columns += (columns.empty() ? "" : ", ") + platform::QuoteName(part) + (withOrder ? order : "");
    start = end + 1;
  }
  return columns;
}

}  // namespace

std::string CreateIndexStatement(const std::string& table, const dao::Index& index) {
  return std::string("CREATE ") + (index.Unique || index.Primary ? "UNIQUE " : "") + "INDEX " +
         platform::QuoteName(table + "_" + index.Name) + " ON " + platform::QuoteName(table) +
         " (" + IndexColumns(index, true) + ")";
}

std::string AddPrimaryKeyStatement(const std::string& table, const dao::Index& index) {
  return "ALTER TABLE " + platform::QuoteName(table) + " ADD CONSTRAINT " +
         platform::QuoteName(table + "_" + index.Name) + " PRIMARY KEY (" +
         IndexColumns(index, false) + ")";
}

std::shared_ptr<dao::Database> OpenOdbcDatabase(const std::string& connect,
                                                dao::DataSourceChooser* chooser, Limits limits) {
  auto connection = std::make_shared<Connection>(ConnectionStringFor(connect, chooser), limits);
  connection->DeferDiskWrites();
  return std::make_shared<OdbcDatabase>(std::move(connection));
}

}  // namespace platform::odbc
