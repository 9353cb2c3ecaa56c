#include "platform/access_format.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string Data(const std::string& name) {
  return std::string(NORVANE_TEST_DATA) + "/" + name;
}

std::vector<std::uint8_t> PageZero(const std::string& name) {
  std::ifstream in(Data(name), std::ios::binary);
  std::vector<std::uint8_t> page(4096);
  in.read(reinterpret_cast<char*>(page.data()), static_cast<std::streamsize>(page.size()));
  return page;
}

// Sets the masked encryption field of a Jet 4 page 0.
void MarkEncrypted(std::vector<std::uint8_t>& page) {
  platform::UnmaskJetHeader(page.data() + 0x18, 128);
  page[0x3E] = 0x2A;
  platform::UnmaskJetHeader(page.data() + 0x18, 128);
}

TEST(AccessFormat, FilesOfEveryVersionWeLinkAreNamedAndLinkable) {
  const struct {
    const char* file;
    const char* name;
  } cases[] = {{"nwind.mdb", "Jet 3 (Access 97)"},
               {"testV2000.mdb", "Jet 4 (Access 2000-2003)"},
               {"modern-dev-V2007.accdb", "ACE 12 (Access 2007)"},
               {"modern-dev-V2010.accdb", "ACE 14 (Access 2010)"}};
  for (const auto& c : cases) {
    const platform::AccessFormat f = platform::ReadAccessFormat(Data(c.file));
    EXPECT_EQ(f.name, c.name) << c.file;
    EXPECT_TRUE(f.accessFile && f.readable && f.linkable && !f.encrypted) << c.file;
    EXPECT_EQ(platform::FormatSupportLine(f),
              std::string("Access file format: ") + c.name + ": read; link-back supported");
  }
}

TEST(AccessFormat, Access2019IsReadButNotLinkedAndEncryptedFilesNeither) {
  std::vector<std::uint8_t> page = PageZero("modern-dev-V2010.accdb");
  page[0x14] = 6;
  platform::AccessFormat f = platform::DescribeAccessFormat(page);
  EXPECT_EQ(f.name, "ACE 17 (Access 2019)");
  EXPECT_TRUE(f.readable);
  EXPECT_FALSE(f.linkable);
  EXPECT_NE(platform::FormatSupportLine(f).find("link-back not supported"), std::string::npos);

  page = PageZero("testV2000.mdb");
  MarkEncrypted(page);
  f = platform::DescribeAccessFormat(page);
  EXPECT_TRUE(f.encrypted);
  EXPECT_FALSE(f.readable || f.linkable);
  EXPECT_EQ(
      platform::FormatSupportLine(f),
      "Access file format: Jet 4 (Access 2000-2003), encrypted: neither read nor linked back");
}

TEST(AccessFormat, OtherFilesAreNotTakenForAccessFiles) {
  // A Jet signature with a version no Access wrote, a foreign file, a file shorter than the
  // version byte and a missing file.
  std::vector<std::uint8_t> page = PageZero("testV2000.mdb");
  page[0x14] = 2;
  platform::AccessFormat f = platform::DescribeAccessFormat(page);
  EXPECT_TRUE(f.accessFile);
  EXPECT_FALSE(f.readable || f.linkable);
  EXPECT_EQ(f.name, "Jet version 2");

  const std::string sqlite = "SQLite format 3";
  f = platform::DescribeAccessFormat(std::vector<std::uint8_t>(sqlite.begin(), sqlite.end()));
  EXPECT_FALSE(f.accessFile || f.readable);
  EXPECT_EQ(platform::FormatSupportLine(f),
            "Access file format: not an Access file (no Jet database header)");

  page.resize(0x10);
  EXPECT_FALSE(platform::DescribeAccessFormat(page).accessFile);
  EXPECT_EQ(platform::FormatSupportLine(platform::ReadAccessFormat(Data("no-such-file.mdb"))), "");
}

}  // namespace
