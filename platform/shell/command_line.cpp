#include "platform/shell/command_line.h"

#include <cctype>
#include <optional>

#include "platform/error.h"

namespace platform::shell {
namespace {

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

bool IsSwitch(std::string_view word) {
  return word.size() == 2 && word[0] == '/';
}

bool BeginsWithDrive(std::string_view word) {
  return word.size() >= 3 && std::isalpha(static_cast<unsigned char>(word[0])) && word[1] == ':' &&
         (word[2] == '\\' || word[2] == '/');
}

struct Word {
  std::size_t begin, end;
  std::string_view In(std::string_view s) const { return s.substr(begin, end - begin); }
};

std::vector<Word> WordsOf(std::string_view s) {
  std::vector<Word> words;
  std::size_t i = 0;
  while (true) {
    while (i < s.size() && IsBlank(s[i])) ++i;
    if (i == s.size()) return words;
    const std::size_t begin = i;
    while (i < s.size() && !IsBlank(s[i])) ++i;
    words.push_back({begin, i});
  }
}

// A path as it stands in an unquoted part: blanks and switches at its ends dropped.
std::string PathPart(std::string_view part) {
  std::vector<Word> words = WordsOf(part);
  std::size_t first = 0, last = words.size();
  while (first < last && IsSwitch(words[first].In(part))) ++first;
  while (last > first && IsSwitch(words[last - 1].In(part))) --last;
  if (first == last) return {};
  return std::string(part.substr(words[first].begin, words[last - 1].end - words[first].begin));
}

// The copy line whose paths hold blanks; nothing when the text does not fit that form.
std::optional<CopyArguments> SplitUnquotedCopy(std::string_view arguments) {
  if (arguments.find('"') != std::string_view::npos) return std::nullopt;
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (std::size_t plus; (plus = arguments.find(" + ", start)) != std::string_view::npos;
       start = plus + 3)
    parts.push_back(arguments.substr(start, plus - start));
  if (parts.empty()) return std::nullopt;
  const std::string_view last = arguments.substr(start);

  const std::vector<Word> words = WordsOf(last);
  std::optional<std::size_t> cut;
  for (std::size_t k = words.size(); k-- > 1;) {
    if (BeginsWithDrive(words[k].In(last))) {
      cut = words[k].begin;
      break;
    }
  }
  if (!cut) return std::nullopt;

  CopyArguments c;
  for (std::string_view part : parts) c.sources.push_back(PathPart(part));
  c.sources.push_back(PathPart(last.substr(0, *cut)));
  c.target = PathPart(last.substr(*cut));
  for (const auto& s : c.sources)
    if (s.empty()) return std::nullopt;
  if (c.target.empty()) return std::nullopt;
  return c;
}

}  // namespace

std::vector<std::string> SplitWindowsArguments(std::string_view s) {
  std::vector<std::string> out;
  std::size_t i = 0;
  while (i < s.size() && IsBlank(s[i])) ++i;
  if (i == s.size()) return out;

  // The program name: no escapes, quotes only group.
  std::string program;
  if (s[i] == '"') {
    const std::size_t close = s.find('"', i + 1);
    program =
        std::string(s.substr(i + 1, (close == std::string_view::npos ? s.size() : close) - i - 1));
    i = close == std::string_view::npos ? s.size() : close + 1;
  }
  while (i < s.size() && !IsBlank(s[i])) program += s[i++];
  out.push_back(program);

  while (true) {
    while (i < s.size() && IsBlank(s[i])) ++i;
    if (i >= s.size()) break;
    std::string arg;
    bool quoted = false;
    while (i < s.size() && (quoted || !IsBlank(s[i]))) {
      if (s[i] == '\\') {
        std::size_t n = 0;
        while (i < s.size() && s[i] == '\\') {
          ++n;
          ++i;
        }
        if (i < s.size() && s[i] == '"') {
          arg.append(n / 2, '\\');
          if (n % 2 == 1) {
            arg += '"';
            ++i;
          }
        } else {
          arg.append(n, '\\');
        }
        continue;
      }
      if (s[i] == '"') {
        if (quoted && i + 1 < s.size() && s[i + 1] == '"') {
          arg += '"';
          i += 2;
          continue;
        }
        quoted = !quoted;
        ++i;
        continue;
      }
      arg += s[i++];
    }
    out.push_back(std::move(arg));
  }
  return out;
}

CopyArguments SplitCopyArguments(std::string_view arguments) {
  if (auto c = SplitUnquotedCopy(arguments)) return *c;

  // Items are names and "+" markers; "a+b" counts as a, +, b.
  std::vector<std::string> items;
  std::vector<std::string> words = SplitWindowsArguments("copy " + std::string(arguments));
  words.erase(words.begin());
  for (const auto& w : words) {
    if (w.size() == 2 && w[0] == '/') continue;  // /a /b /v /y
    std::size_t start = 0;
    while (true) {
      const std::size_t plus = w.find('+', start);
      const std::string part = w.substr(start, plus == std::string::npos ? plus : plus - start);
      if (!part.empty()) items.push_back(part);
      if (plus == std::string::npos) break;
      items.push_back("+");
      start = plus + 1;
    }
  }
  CopyArguments c;
  bool joining = true;  // the next name belongs to the sources
  for (const auto& item : items) {
    if (item == "+") {
      if (c.sources.empty() || !c.target.empty())
        throw Error(err::kBadFileName, "The syntax of the command is incorrect.");
      joining = true;
      continue;
    }
    if (joining) {
      c.sources.push_back(item);
      joining = false;
    } else if (c.target.empty()) {
      c.target = item;
    } else {
      throw Error(err::kBadFileName, "The syntax of the command is incorrect.");
    }
  }
  if (c.sources.empty() || joining)
    throw Error(err::kBadFileName, "The syntax of the command is incorrect.");
  if (c.target.empty())
    throw Error(err::kBadFileName, "copy needs a target file after its source files");
  return c;
}

}  // namespace platform::shell
