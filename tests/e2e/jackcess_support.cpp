#include "jackcess_support.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>

#include "support/temp_dir.h"

namespace fs = std::filesystem;

namespace jackcess_test {
namespace {

const char* const kClasspathLibraries =
    "/usr/share/java/commons-lang3.jar:/usr/share/java/commons-logging.jar";

// Builds LinkDump once per process; empty `why` when it can run.
struct Jackcess {
  std::string why;
  std::string classpath;
  testing_support::TempDir classes{"linkdump"};

  Jackcess() {
    const char* env = std::getenv("JACKCESS_JAR");
    const fs::path jar = env != nullptr && *env != '\0' ? fs::path(env) : fs::path(JACKCESS_JAR);
    bool ok = false;
    jettest::Run("command -v java >/dev/null && command -v javac >/dev/null", &ok);
    if (!ok) {
      why = "Java (java, javac) is not installed";
    } else if (!fs::exists(jar)) {
      why = "Jackcess is not built: scripts/jackcess.sh builds " + jar.string();
    } else {
      const std::string out = jettest::Run("javac -d " + jettest::Quote(classes.path().string()) +
                                               " -cp " + jettest::Quote(jar.string()) + " " +
                                               jettest::Quote(LINK_DUMP_SOURCE) + " 2>&1",
                                           &ok);
      if (!ok) why = "LinkDump.java does not compile: " + out;
      classpath = jar.string() + ":" + classes.path().string() + ":" + kClasspathLibraries;
    }
  }
};

Jackcess& Reader() {
  static Jackcess reader;
  return reader;
}

std::vector<std::string> Split(const std::string& line, char separator) {
  std::vector<std::string> out(1);
  for (char c : line) {
    if (c == separator)
      out.emplace_back();
    else
      out.back() += c;
  }
  return out;
}

}  // namespace

const std::string& WhyUnavailable() {
  return Reader().why;
}

Dump ReadWithJackcess(const fs::path& mdb) {
  bool ok = false;
  const std::string out = jettest::Run("java -cp " + jettest::Quote(Reader().classpath) +
                                           " LinkDump " + jettest::Quote(mdb.string()) + " 2>&1",
                                       &ok);
  Dump dump;
  EXPECT_TRUE(ok) << "Jackcess cannot read " << mdb << ": " << out;
  std::istringstream in(out);
  for (std::string line; std::getline(in, line);) {
    const std::vector<std::string> f = Split(line, '\t');
    if (f.size() == 4 && f[0] == "L")
      dump.links[f[1]] = {f[2], f[3]};
    else if (f.size() == 6 && f[0] == "I")
      dump.indexes[f[1]].push_back({f[2], Split(f[3], ','), f[4] == "1", f[5] == "1"});
    else if (f.size() == 7 && f[0] == "P")
      dump.properties[f[1]][f[2]][f[3]] = {f[4], f[5], f[6]};
    else
      ADD_FAILURE() << "LinkDump printed: " << line;
  }
  return dump;
}

}  // namespace jackcess_test
