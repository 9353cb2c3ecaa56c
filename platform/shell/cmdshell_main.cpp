// cmdshell: runs a command file (.bat) the wizard wrote, where no Windows command shell exists.
//   cmdshell <command file>
// Understands "cd <folder>", "<drive>:", "copy <a> + <b> <c>", "echo", "rem" and tool lines
// ("<tool> <arguments>", the tool found in the current folder, else on the PATH). Paths may hold
// blanks unquoted, as the short folder names do ("My Dat~1"): the rest of a "cd" line is the
// folder, and "copy" splits as platform/shell/command_line.h says. Echoes each line and lets the
// tools write into the same output, prints "finished <file name>" at the end, and exits with the
// status of the last line that failed, or 0. A line that fails is reported as
// platform/shell/tool_output.h gives.
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/files.h"
#include "platform/paths.h"
#include "platform/shell/command_line.h"
#include "platform/shell/tool_output.h"
#include "platform/text.h"

extern char** environ;

namespace {
namespace fs = std::filesystem;

// The Windows shell says 9009 for an unknown command; POSIX exit statuses hold 8 bits, and 127
// is what POSIX shells give.
constexpr int kNotRecognised = 127;

struct LineFailure {
  int status;
  std::string message;
};

class Shell {
 public:
  int Run(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::string text{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    std::vector<std::string> lines;
    std::size_t start = 0;
    while (start < text.size()) {
      std::size_t nl = text.find('\n', start);
      if (nl == std::string::npos) nl = text.size();
      std::string line = text.substr(start, nl - start);
      if (!line.empty() && line.back() == '\r') line.pop_back();
      lines.push_back(line);
      start = nl + 1;
    }

    int lastFailure = 0;
    for (std::size_t n = 0; n < lines.size(); ++n) {
      std::string line = platform::Trim(lines[n]);
      while (!line.empty() && line.front() == '\t') line.erase(0, 1);
      if (line.empty()) continue;
      bool echo = echo_;
      if (line.front() == '@') {
        echo = false;
        line = platform::Trim(line.substr(1));
      }
      if (echo) std::cout << "\n" << Prompt() << ">" << line << "\n";
      std::cout.flush();
      try {
        const int status = RunLine(line);
        if (status != 0) lastFailure = status;
      } catch (const LineFailure& f) {
        Report(n + 1, lines[n], f.message);
        lastFailure = f.status;
      } catch (const platform::Error& e) {
        Report(n + 1, lines[n], e.Description());
        lastFailure = 1;
      } catch (const std::exception& e) {
        Report(n + 1, lines[n], e.what());
        lastFailure = 1;
      }
    }
    std::cout << "finished " << file.filename().string() << std::endl;
    return lastFailure;
  }

 private:
  static void Report(std::size_t n, const std::string& line, const std::string& why) {
    std::cout.flush();
    std::cerr << platform::shell::ToolErrorLine(
                     "cmdshell", "line " + std::to_string(n) + " failed (" + line + "): " + why)
              << std::endl;
  }

  static std::string Prompt() {
    std::error_code ec;
    return platform::paths::ToWindows(fs::current_path(ec));
  }

  static std::string FirstWord(const std::string& line) {
    std::size_t end = 0;
    while (end < line.size() && line[end] != ' ' && line[end] != '\t' && line[end] != '"') ++end;
    return platform::LowerAscii(line.substr(0, end));
  }

  int RunLine(const std::string& line) {
    const std::string word = FirstWord(line);
    const std::string rest = platform::Trim(line.substr(word.size()));
    if (word == "rem" || line.rfind("::", 0) == 0) return 0;
    if (word == "echo" || word == "echo.") return Echo(rest);
    if (word == "cd" || word == "chdir") return ChangeFolder(rest);
    if (line.size() == 2 && line[1] == ':' && std::isalpha(static_cast<unsigned char>(line[0])))
      return SwitchDrive(line[0]);
    if (word == "copy") return Copy(rest);
    return RunTool(line);
  }

  int Echo(const std::string& rest) {
    if (platform::EqualsNoCase(rest, "off")) {
      echo_ = false;
    } else if (platform::EqualsNoCase(rest, "on")) {
      echo_ = true;
    } else {
      std::cout << platform::shell::OrdinaryOutput(rest + "\n");
    }
    return 0;
  }

  int ChangeFolder(std::string arg) {
    if (platform::StartsWithNoCase(arg, "/d")) arg = platform::Trim(arg.substr(2));
    std::string folder;
    for (char c : arg)
      if (c != '"') folder += c;
    folder = platform::Trim(folder);
    if (folder.empty()) {
      std::cout << Prompt() << "\n";
      return 0;
    }
    if (folder.size() >= 2 && folder[1] == ':' && std::toupper(folder[0]) != 'Z')
      throw LineFailure{1, "The system cannot find the drive specified (only Z: is mapped)."};
    const fs::path p = platform::paths::ToPosix(folder);
    std::error_code ec;
    if (!fs::is_directory(p, ec) || ::chdir(p.c_str()) != 0)
      throw LineFailure{1, "The system cannot find the path specified: " + folder};
    return 0;
  }

  // Only drive Z: exists, and the current folder always lies on it.
  int SwitchDrive(char letter) {
    if (std::toupper(static_cast<unsigned char>(letter)) != 'Z')
      throw LineFailure{1, "The system cannot find the drive specified (only Z: is mapped)."};
    return 0;
  }

  int Copy(const std::string& rest) {
    const platform::shell::CopyArguments args = platform::shell::SplitCopyArguments(rest);
    std::string data;
    std::vector<fs::path> sources;
    for (const auto& s : args.sources) {
      const fs::path p = platform::paths::ToPosix(s);
      std::error_code ec;
      if (!fs::is_regular_file(p, ec))
        throw LineFailure{1, "The system cannot find the file specified: " + s};
      std::ifstream in(p, std::ios::binary);
      data.append(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      if (in.bad()) throw LineFailure{1, "Cannot read " + s};
      sources.push_back(fs::weakly_canonical(p));
    }
    fs::path target = platform::paths::ToPosix(args.target);
    std::error_code ec;
    // Only a real folder takes the file inside: a link standing under the name is replaced.
    if (fs::is_directory(fs::symlink_status(target, ec))) target /= sources.front().filename();
    const fs::path whole = fs::absolute(target, ec);
    const fs::path written = fs::weakly_canonical(whole.parent_path(), ec) / whole.filename();
    for (const auto& s : sources)
      if (written == s)
        throw LineFailure{1, "The file cannot be copied onto itself: " + args.target};
    try {
      platform::files::ReplaceDurably(target.string(), data, args.target);
    } catch (const platform::Error& e) {
      throw LineFailure{1, e.Description()};
    }
    std::cout << "        1 file(s) copied.\n";
    return 0;
  }

  static bool IsProgram(const fs::path& p) {
    std::error_code ec;
    return fs::is_regular_file(p, ec) && ::access(p.c_str(), X_OK) == 0;
  }

  // The tool's file: a path as given, or a bare name in the current folder (".exe" optional),
  // then, as the Windows shell looks, in the folders of PATH (the server's tools, psql).
  static fs::path FindTool(const std::string& name) {
    for (const std::string& candidate : {name, name + ".exe"}) {
      try {
        const fs::path p = platform::paths::ToPosix(candidate);
        if (IsProgram(p)) return p;
      } catch (const platform::Error&) {
      }
    }
    if (name.find_first_of("/\\:") != std::string::npos) return {};
    const char* path = std::getenv("PATH");
    std::string folders = path != nullptr ? path : "";
    for (std::size_t start = 0; start <= folders.size();) {
      std::size_t end = folders.find(':', start);
      if (end == std::string::npos) end = folders.size();
      const std::string folder = folders.substr(start, end - start);
      start = end + 1;
      if (folder.empty()) continue;
      if (const fs::path p = fs::path(folder) / name; IsProgram(p)) return p;
    }
    return {};
  }

  int RunTool(const std::string& line) {
    const std::vector<std::string> args = platform::shell::SplitWindowsArguments(line);
    const fs::path tool = FindTool(args.front());
    if (tool.empty())
      throw LineFailure{kNotRecognised,
                        "'" + args.front() +
                            "' is not recognized as an internal or external command, operable "
                            "program or batch file."};
    std::vector<std::string> owned = args;
    owned.front() = tool.string();
    std::vector<char*> argv;
    for (auto& a : owned) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::cout.flush();
    std::cerr.flush();
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, tool.c_str(), nullptr, nullptr, argv.data(), environ);
    if (rc != 0) throw LineFailure{1, "Cannot start " + tool.string() + ": " + std::strerror(rc)};
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) throw LineFailure{1, "Lost the process of " + args.front()};
    }
    if (WIFEXITED(status)) return WEXITSTATUS(status);
    if (WIFSIGNALED(status)) {
      std::cerr << platform::shell::ToolErrorLine("cmdshell", args.front() + " ended by signal " +
                                                                  std::to_string(WTERMSIG(status)))
                << "\n";
      return 128 + WTERMSIG(status);
    }
    return 1;
  }

  bool echo_ = true;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc == 2 && std::string(argv[1]) == "--help") {
    std::cout
        << "Usage: cmdshell <command file>\n"
           "Runs a command file (.bat) written by the Norvane migration wizard: cd <folder>,\n"
           "<drive>:, copy <a> + <b> <c>, echo, rem and tool lines (the tool found in the\n"
           "current folder). Paths in Windows form; Z: is the root folder.\n"
           "Exit status: that of the last line that failed, or 0.\n";
    return 0;
  }
  if (argc != 2) {
    std::cerr << platform::shell::ToolErrorLine("cmdshell", "usage: cmdshell <command file>")
              << "\n";
    return 2;
  }
  fs::path file;
  try {
    file = platform::paths::ToPosix(argv[1]);
  } catch (const platform::Error& e) {
    std::cerr << platform::shell::ToolErrorLine("cmdshell",
                                                std::string(argv[1]) + ": " + e.Description())
              << "\n";
    return 1;
  }
  std::error_code ec;
  if (!fs::is_regular_file(file, ec)) {
    std::cerr << platform::shell::ToolErrorLine(
                     "cmdshell", std::string("the command file ") + argv[1] + " was not found")
              << "\n";
    return 1;
  }
  return Shell().Run(file);
}
