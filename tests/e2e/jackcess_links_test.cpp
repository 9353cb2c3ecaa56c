// Every file of tests/data migrated with --link, its links read back by two independent readers:
// Jackcess (tests/jackcess/LinkDump.java, built by scripts/jackcess.sh) for the links and their
// property records, mdb-reader for the catalog rows. Each link's properties must be those of the
// table it replaces that a link carries, with the same types and values, and the link's own
// GUIDs in Jet 4 and ACE files. Skipped, saying why, when Java or Jackcess is not there.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "engine/names.h"
#include "jackcess_support.h"
#include "platform/display_properties.h"
#include "platform/jetwriter/catalog.h"
#include "platform/text.h"
#include "support/temp_dir.h"
#include "support/tool_process.h"

namespace fs = std::filesystem;

namespace {

using jackcess_test::Dump;
using jackcess_test::ReadWithJackcess;
using jackcess_test::Value;

std::vector<std::string> DataFiles() {
  std::vector<std::string> files;
  for (const auto& entry : fs::directory_iterator(NORVANE_TEST_DATA))
    if (entry.path().extension() == ".mdb" || entry.path().extension() == ".accdb")
      files.push_back(entry.path().filename().string());
  std::sort(files.begin(), files.end());
  return files;
}

// The block of `blocks` named `name` without regard to letter case, or null.
const std::map<std::string, Value>* BlockOf(
    const std::map<std::string, std::map<std::string, Value>>& blocks, const std::string& name) {
  for (const auto& [block, properties] : blocks)
    if (platform::EqualsNoCase(block, name)) return &properties;
  return nullptr;
}

class LinksReadBack : public testing::TestWithParam<std::string> {};

TEST_P(LinksReadBack, jackcess_and_mdb_reader_read_each_links_properties_as_the_table_held_them) {
  if (!jackcess_test::WhyUnavailable().empty())
    GTEST_SKIP() << "Jackcess cannot run: " << jackcess_test::WhyUnavailable();
  testing_support::TempDir dir("jackcess-links");
  fs::create_directories(dir.path() / "My Data");
  const fs::path access = dir.path() / "My Data" / GetParam();
  fs::copy_file(fs::path(NORVANE_TEST_DATA) / GetParam(), access);
  const auto run =
      tools_test::RunProgram(NORVANE_MIGRATE, {"--access", access.string(), "--link"}, dir.path());
  const Dump dump = ReadWithJackcess(access);
  const jettest::NodeView node = jettest::ReadWithMdbReader(access);
  if (dump.links.empty()) {
    // A file the run refuses, or without tables: nothing was linked, by any reader's account.
    EXPECT_TRUE(node.links.empty());
    GTEST_SKIP() << GetParam() << " has no links after the run (status " << run.status << ")";
  }
  ASSERT_TRUE(node.available) << node.why;
  bool jet4 = false;
  {
    jetwriter::PageFile file(access.string(), jetwriter::LockMode::kReadOnly);
    jet4 = jetwriter::ReadCatalog(file).f.jet4;
  }
  EXPECT_EQ(dump.links.size(), node.links.size()) << run.output;
  int compared = 0;
  for (const auto& [name, link] : dump.links) {
    SCOPED_TRACE(name);
    const std::string original = "Old_" + name;
    ASSERT_EQ(node.links.count(name), 1u);
    EXPECT_EQ(node.links.at(name).connect, link.connect);
    EXPECT_EQ(node.links.at(name).foreignName, link.foreignName);
    EXPECT_EQ(link.foreignName, engine::TargetNameOf(name));
    const auto& held = dump.properties.count(name) != 0
                           ? dump.properties.at(name)
                           : std::map<std::string, std::map<std::string, Value>>{};
    const auto& had = dump.properties.count(original) != 0
                          ? dump.properties.at(original)
                          : std::map<std::string, std::map<std::string, Value>>{};
    // Every property of the original a link carries arrives, of the same type and value.
    for (const auto& [block, properties] : had) {
      const bool column = !block.empty();
      const auto* on = BlockOf(held, block);
      for (const auto& [property, value] : properties) {
        const bool carried =
            column ? platform::IsListedProperty(platform::kColumnDisplayProperties, property)
                   : platform::IsListedProperty(platform::kTableDisplayProperties, property);
        if (!carried) continue;
        ASSERT_NE(on, nullptr) << "block " << block << " for " << property;
        ASSERT_EQ(on->count(property), 1u) << block << " " << property;
        EXPECT_EQ(on->at(property).type, value.type) << block << " " << property;
        EXPECT_EQ(on->at(property).value, value.value) << block << " " << property;
        if (!jet4) {
          EXPECT_EQ(on->at(property).ddl, value.ddl) << block << " " << property;
        }
        ++compared;
      }
    }
    // Nothing else: no enforced property, nothing made up; GUIDs of its own in Jet 4 and ACE.
    for (const auto& [block, properties] : held) {
      const auto* was = BlockOf(had, block);
      for (const auto& [property, value] : properties) {
        if (property == "GUID" || property == "NameMap") {
          EXPECT_TRUE(jet4) << block << " " << property;
          if (was != nullptr && was->count(property) != 0) {
            EXPECT_NE(was->at(property).value, value.value) << block << " " << property;
          }
          continue;
        }
        EXPECT_FALSE(platform::IsListedProperty(platform::kTargetProperties, property))
            << block << " " << property;
        EXPECT_TRUE(was != nullptr && was->count(property) == 1) << block << " " << property;
      }
      if (jet4) {
        EXPECT_EQ(properties.count("GUID"), 1u) << block;
      }
    }
    if (jet4) {
      EXPECT_EQ(held.count(""), 1u) << "the table's own block, with its GUID";
    }
  }
  RecordProperty("links", static_cast<int>(dump.links.size()));
  RecordProperty("properties", compared);
  std::cout << GetParam() << ": " << dump.links.size() << " links, " << compared
            << " properties compared\n";
}

INSTANTIATE_TEST_SUITE_P(DataFiles, LinksReadBack, testing::ValuesIn(DataFiles()),
                         [](const testing::TestParamInfo<std::string>& i) {
                           std::string name;
                           for (char c : i.param)
                             name += std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
                           return name;
                         });

}  // namespace
