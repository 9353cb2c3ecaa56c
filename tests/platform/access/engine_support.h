// Helpers of the engine tests: fixtures copied into a temporary folder, a scripted data-source
// chooser, direct reads of the Access file through libmdb and of the target through SQLite.
#pragma once

#include <mdbtools.h>
#include <sqlite3.h>

#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "norvane/catalog.h"
#include "platform/access/access_engine.h"
#include "support/temp_dir.h"

namespace engine_test {

inline std::filesystem::path Fixture(const std::string& name) {
  return std::filesystem::path(NORVANE_TEST_DATA) / name;
}

inline std::string CopyFixture(const std::string& name, const testing_support::TempDir& dir,
                               const std::string& as = "") {
  const auto target = dir.path() / (as.empty() ? name : as);
  std::filesystem::copy_file(Fixture(name), target,
                             std::filesystem::copy_options::overwrite_existing);
  return target.string();
}

class ScriptedChooser : public dao::DataSourceChooser {
 public:
  explicit ScriptedChooser(std::optional<std::string> answer) : answer_(std::move(answer)) {}
  std::optional<std::string> ChooseDataSource() override {
    ++asked;
    return answer_;
  }
  int asked = 0;

 private:
  std::optional<std::string> answer_;
};

inline std::string NorvaneSource(const std::filesystem::path& db) {
  return "Driver=Norvane;Database=" + db.string();
}

// An empty Norvane database at `db`, as "Create DB" leaves it: a run's target must be one.
inline std::filesystem::path NewNorvaneDatabase(const std::filesystem::path& db) {
  norvane::CreateDatabase(db);
  return db;
}

// Rows of a SQLite table as text (NULL as nullopt; blobs as their bytes).
using TextRow = std::vector<std::optional<std::string>>;

inline std::vector<TextRow> SqliteRows(const std::filesystem::path& db, const std::string& sql) {
  sqlite3* handle = nullptr;
  std::vector<TextRow> rows;
  if (sqlite3_open_v2(db.c_str(), &handle, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
    sqlite3_close(handle);
    return rows;
  }
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(handle, sql.c_str(), -1, &stmt, nullptr) == SQLITE_OK) {
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      TextRow row;
      for (int c = 0; c < sqlite3_column_count(stmt); ++c) {
        if (sqlite3_column_type(stmt, c) == SQLITE_NULL) {
          row.emplace_back();
        } else {
          const void* data = sqlite3_column_blob(stmt, c);
          const int size = sqlite3_column_bytes(stmt, c);
          row.emplace_back(
              std::string(static_cast<const char*>(data), static_cast<std::size_t>(size)));
        }
      }
      rows.push_back(std::move(row));
    }
  }
  sqlite3_finalize(stmt);
  sqlite3_close(handle);
  return rows;
}

// What libmdb itself reads from a table: column names and types, and every row as text
// (booleans "1"/"0", dates "%Y-%m-%d %H:%M:%S", GUIDs in braces, OLE values as their bytes).
struct MdbTable {
  std::vector<std::string> columns;
  std::vector<int> types;
  std::vector<TextRow> rows;
};

inline MdbTable ReadWithLibmdb(const std::string& path, const std::string& table) {
  MdbTable out;
  MdbHandle* mdb = mdb_open(path.c_str(), MDB_NOFLAGS);
  if (mdb == nullptr) return out;
  mdb_set_bind_size(mdb, 1 << 20);
  mdb_set_date_fmt(mdb, "%Y-%m-%d %H:%M:%S");
  mdb_set_boolean_fmt_numbers(mdb);
  mdb_set_repid_fmt(mdb, MDB_NOBRACES_4_2_2_2_6);
  mdb_read_catalog(mdb, MDB_TABLE);
  MdbTableDef* t = mdb_read_table_by_name(mdb, const_cast<char*>(table.c_str()), MDB_TABLE);
  if (t != nullptr && mdb_read_columns(t)) {
    std::vector<std::vector<char>> buffers(t->num_cols, std::vector<char>(1 << 20));
    std::vector<int> lengths(t->num_cols);
    for (unsigned c = 0; c < t->num_cols; ++c) {
      auto* col = static_cast<MdbColumn*>(g_ptr_array_index(t->columns, c));
      out.columns.push_back(col->name);
      out.types.push_back(col->col_type);
      mdb_bind_column(t, static_cast<int>(c + 1), buffers[c].data(), &lengths[c]);
    }
    mdb_rewind_table(t);
    while (mdb_fetch_row(t)) {
      TextRow row;
      for (unsigned c = 0; c < t->num_cols; ++c) {
        auto* col = static_cast<MdbColumn*>(g_ptr_array_index(t->columns, c));
        const bool isNull = col->col_type != MDB_BOOL && col->cur_value_len == 0 &&
                            lengths[c] == 0 && col->col_type != MDB_TEXT &&
                            col->col_type != MDB_MEMO;
        if (isNull) {
          row.emplace_back();
        } else if (col->col_type == MDB_OLE) {
          size_t size = 0;
          void* data = mdb_ole_read_full(mdb, col, &size);
          row.emplace_back(std::string(static_cast<const char*>(data), size));
          free(data);
        } else {
          row.emplace_back(std::string(buffers[c].data()));
        }
      }
      out.rows.push_back(std::move(row));
    }
  }
  if (t != nullptr) mdb_free_tabledef(t);
  mdb_close(mdb);
  return out;
}

}  // namespace engine_test
