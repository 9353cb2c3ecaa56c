// Reading an Access file's links back with Jackcess: tests/jackcess/LinkDump.java, compiled once
// per test program against the jar scripts/jackcess.sh builds (JACKCESS_JAR names another).
#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/platform/jetwriter/jet_test_support.h"

namespace jackcess_test {

// Why Jackcess cannot run here (Java or the jar missing, LinkDump not compiling); empty when it
// can. Tests skip with this.
const std::string& WhyUnavailable();

struct Value {
  std::string type, ddl, value;
  bool operator==(const Value&) const = default;
};

struct Index {
  std::string name;
  std::vector<std::string> columns;  // in key order
  bool primary = false;
  bool unique = false;
};

// table -> block ("" for the table's own) -> property -> value
using Properties = std::map<std::string, std::map<std::string, std::map<std::string, Value>>>;

struct Dump {
  std::map<std::string, jettest::Link> links;
  std::map<std::string, std::vector<Index>> indexes;  // of each link, in the order it holds them
  Properties properties;
};

// What Jackcess reads of `mdb`; a failure to read it or a line not understood fails the test.
Dump ReadWithJackcess(const std::filesystem::path& mdb);

}  // namespace jackcess_test
