#include "jet_test_support.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "norvane/catalog.h"
#include "platform/jetwriter/catalog.h"
#include "platform/jetwriter/page_file.h"

namespace jettest {
namespace {

std::vector<std::string> Split(const std::string& s, char sep) {
  std::vector<std::string> out;
  std::string cur;
  for (char c : s) {
    if (c == sep) {
      out.push_back(cur);
      cur.clear();
    } else {
      cur += c;
    }
  }
  out.push_back(cur);
  return out;
}

std::vector<std::string> Lines(const std::string& s) {
  std::vector<std::string> out;
  std::istringstream in(s);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    out.push_back(line);
  }
  return out;
}

}  // namespace

std::string FormatNameOf(const std::string& file) {
  return file == "nwind.mdb"                      ? "Jet3"
         : file == "testV2000.mdb"                ? "Jet4"
         : file.find("2007") != std::string::npos ? "Ace2007"
                                                  : "Ace2010";
}

std::filesystem::path CopyFixture(const std::string& name, const std::filesystem::path& dir) {
  std::filesystem::path to = dir / name;
  std::filesystem::copy_file(std::filesystem::path(NORVANE_TEST_DATA) / name, to,
                             std::filesystem::copy_options::overwrite_existing);
  return to;
}

void MakeRemote(const std::filesystem::path& path,
                const std::vector<std::pair<std::string, std::string>>& tables,
                const std::vector<std::string>& statements) {
  // The driver opens only Norvane files.
  if (!std::filesystem::exists(path)) norvane::CreateDatabase(path);
  sqlite3* db = nullptr;
  if (sqlite3_open(path.c_str(), &db) != SQLITE_OK) {
    sqlite3_close(db);
    throw std::runtime_error("cannot create " + path.string());
  }
  std::vector<std::string> sqls;
  for (const auto& [name, columns] : tables)
    sqls.push_back("create table \"" + name + "\" (" + columns + ")");
  sqls.insert(sqls.end(), statements.begin(), statements.end());
  for (const std::string& sql : sqls) {
    char* err = nullptr;
    if (sqlite3_exec(db, sql.c_str(), nullptr, nullptr, &err) != SQLITE_OK) {
      std::string msg = err != nullptr ? err : "?";
      sqlite3_free(err);
      sqlite3_close(db);
      throw std::runtime_error(msg);
    }
  }
  sqlite3_close(db);
}

std::string Quote(const std::string& s) {
  std::string out = "'";
  for (char c : s) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string Run(const std::string& command, bool* ok) {
  std::string out;
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) throw std::runtime_error("cannot run " + command);
  char buf[4096];
  for (std::size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) out.append(buf, n);
  int status = pclose(p);
  if (ok != nullptr) *ok = status == 0;
  return out;
}

std::vector<std::string> LibmdbTables(const std::filesystem::path& mdb) {
  bool ok = false;
  std::string out = Run("mdb-tables -1 " + Quote(mdb.string()) + " 2>&1", &ok);
  if (!ok) throw std::runtime_error("mdb-tables failed: " + out);
  std::vector<std::string> tables;
  for (const std::string& l : Lines(out)) {
    if (!l.empty()) tables.push_back(l);
  }
  return tables;
}

std::string LibmdbExport(const std::filesystem::path& mdb, const std::string& table) {
  bool ok = false;
  std::string out =
      Run("mdb-export -b hex " + Quote(mdb.string()) + " " + Quote(table) + " 2>&1", &ok);
  if (!ok) throw std::runtime_error("mdb-export failed on " + table + ": " + out);
  return out;
}

std::vector<std::map<std::string, std::string>> LibmdbObjects(const std::filesystem::path& mdb) {
  bool ok = false;
  std::string out =
      Run("mdb-export -b strip -Q -d '\t' " + Quote(mdb.string()) + " MSysObjects 2>&1", &ok);
  if (!ok) throw std::runtime_error("mdb-export MSysObjects failed: " + out);
  std::vector<std::string> lines = Lines(out);
  std::vector<std::map<std::string, std::string>> rows;
  if (lines.empty()) return rows;
  std::vector<std::string> header = Split(lines[0], '\t');
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> f = Split(lines[i], '\t');
    if (f.size() != header.size()) continue;
    std::map<std::string, std::string>& row = rows.emplace_back();
    for (std::size_t c = 0; c < header.size(); ++c) row[header[c]] = f[c];
  }
  return rows;
}

std::map<std::string, Link> LibmdbLinks(const std::filesystem::path& mdb) {
  bool ok = false;
  std::string out =
      Run("mdb-export -b strip -Q -d '\t' " + Quote(mdb.string()) + " MSysObjects 2>&1", &ok);
  if (!ok) throw std::runtime_error("mdb-export MSysObjects failed: " + out);
  std::vector<std::string> lines = Lines(out);
  std::map<std::string, Link> links;
  if (lines.empty()) return links;
  std::vector<std::string> header = Split(lines[0], '\t');
  auto column = [&](const std::string& name) {
    for (std::size_t i = 0; i < header.size(); ++i) {
      if (header[i] == name) return i;
    }
    throw std::runtime_error("MSysObjects has no column " + name);
  };
  std::size_t name = column("Name"), type = column("Type"), connect = column("Connect"),
              foreign = column("ForeignName");
  for (std::size_t i = 1; i < lines.size(); ++i) {
    std::vector<std::string> f = Split(lines[i], '\t');
    if (f.size() == header.size() && f[type] == "4") links[f[name]] = {f[connect], f[foreign]};
  }
  return links;
}

NodeView ReadWithMdbReader(const std::filesystem::path& mdb) {
  NodeView view;
  std::filesystem::path dir = JETWRITER_NODE_DIR;
  std::filesystem::create_directories(dir);
  {
    // Tests run in parallel: one installs, the others wait.
    int lock = open((dir / ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (lock >= 0) flock(lock, LOCK_EX);
    if (!std::filesystem::exists(dir / "node_modules" / "mdb-reader" / "package.json")) {
      bool ok = false;
      std::string out = Run("npm install --prefix " + Quote(dir.string()) +
                                " --no-audit --no-fund --loglevel=error mdb-reader@3.2.0 2>&1",
                            &ok);
      if (!ok) view.why = "npm could not install mdb-reader: " + out;
    }
    if (lock >= 0) close(lock);
  }
  if (!view.why.empty()) return view;
  std::filesystem::path script = dir / "read_catalog.mjs";
  std::ofstream(script) << R"(import MDBReader from "mdb-reader";
import { readFileSync } from "fs";
const r = new MDBReader(readFileSync(process.argv[2]));
for (const t of r.getTableNames()) {
  const table = r.getTable(t);
  table.getData();  // every row must decode
  console.log(["T", t, table.rowCount].join("\t"));
}
for (const o of r.getTable("MSysObjects").getData()) {
  if (o.Type === 4) console.log(["L", o.Name, o.Connect, o.ForeignName].join("\t"));
  if (o.Type === 6)
    console.log(["A", o.Name, o.Id, o.Database, o.ForeignName, o.Connect ?? ""].join("\t"));
}
)";
  bool ok = false;
  std::string out = Run("cd " + Quote(dir.string()) + " && node " + Quote(script.string()) + " " +
                            Quote(mdb.string()) + " 2>&1",
                        &ok);
  if (!ok) throw std::runtime_error("mdb-reader failed: " + out);
  view.available = true;
  for (const std::string& l : Lines(out)) {
    std::vector<std::string> f = Split(l, '\t');
    if (f.size() == 3 && f[0] == "T") view.rowCounts[f[1]] = std::stol(f[2]);
    if (f.size() == 4 && f[0] == "L") view.links[f[1]] = {f[2], f[3]};
    if (f.size() == 6 && f[0] == "A") view.accessLinks[f[1]] = {std::stol(f[2]), f[3], f[4], f[5]};
  }
  return view;
}

jetwriter::TableDef DefinitionOf(const std::filesystem::path& mdb, const std::string& name,
                                 int* definitionPages) {
  jetwriter::PageFile file(mdb.string(), jetwriter::LockMode::kHeldByCaller);
  jetwriter::Catalog cat = jetwriter::ReadCatalog(file);
  auto row = std::find_if(cat.rows.begin(), cat.rows.end(),
                          [&](const jetwriter::CatalogRow& r) { return r.name == name; });
  if (row == cat.rows.end()) throw std::runtime_error("no catalog entry " + name);
  const std::uint32_t page = static_cast<std::uint32_t>(row->objectId) & 0xFFFFFF;
  *definitionPages = 0;
  for (std::uint32_t p = page; p != 0; p = jetwriter::Le32(file.Read(p), 4)) ++*definitionPages;
  return jetwriter::ReadTableDef(file, cat.f, page);
}

}  // namespace jettest
