#include "migrate/report_json.h"

#include <cstdio>

namespace console {
namespace {

// The length of the valid UTF-8 sequence at `i`, or 0.
std::size_t Utf8Length(const std::string& s, std::size_t i) {
  const auto c = static_cast<unsigned char>(s[i]);
  const std::size_t n = c < 0x80         ? 1
                        : (c >> 5) == 6  ? 2
                        : (c >> 4) == 14 ? 3
                        : (c >> 3) == 30 ? 4
                                         : 0;
  if (n == 0 || i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(s[i + k]) >> 6) != 2) return 0;
  return n;
}

class Json {
 public:
  Json& Raw(const std::string& text) {
    out_ += text;
    return *this;
  }
  Json& Key(const char* key) {
    Comma();
    out_ += JsonString(key) + ":";
    fresh_ = true;
    return *this;
  }
  Json& Str(const std::string& value) { return Value(JsonString(value)); }
  Json& Num(long long value) { return Value(std::to_string(value)); }
  Json& Bool(bool value) { return Value(value ? "true" : "false"); }
  Json& Open(char bracket) {
    Comma();
    out_ += bracket;
    fresh_ = true;
    return *this;
  }
  Json& Close(char bracket) {
    out_ += bracket;
    fresh_ = false;
    return *this;
  }
  Json& Strings(const char* key, const std::vector<std::string>& values) {
    Key(key).Open('[');
    for (const std::string& v : values) Str(v);
    return Close(']');
  }
  std::string Text() const { return out_; }

 private:
  Json& Value(const std::string& text) {
    Comma();
    out_ += text;
    fresh_ = false;
    return *this;
  }
  void Comma() {
    if (!fresh_ && !out_.empty()) out_ += ',';
    fresh_ = false;
  }
  std::string out_;
  bool fresh_ = true;
};

const char* KindName(engine::FindingKind kind) {
  switch (kind) {
    case engine::FindingKind::NotAccessFile:
      return "not-an-access-file";
    case engine::FindingKind::Encrypted:
      return "encrypted";
    case engine::FindingKind::CannotOpen:
      return "cannot-open";
    case engine::FindingKind::AlreadyLinked:
      return "already-linked";
    case engine::FindingKind::TargetNameCollision:
      return "target-name-collision";
    case engine::FindingKind::PrefixCollision:
      return "prefix-collision";
    case engine::FindingKind::UnwritableName:
      return "unwritable-name";
    case engine::FindingKind::KeyNulls:
      return "key-nulls";
    case engine::FindingKind::KeyDuplicates:
      return "key-duplicates";
    case engine::FindingKind::OrphanRows:
      return "orphan-rows";
    case engine::FindingKind::NoUniqueIndex:
      return "no-unique-index";
    case engine::FindingKind::RowsUnread:
      return "rows-unread";
    case engine::FindingKind::UnusablePath:
      return "unusable-path";
    case engine::FindingKind::ReadOnly:
      return "read-only";
    case engine::FindingKind::LinkBackRefused:
      return "link-back-refused";
    case engine::FindingKind::UnusableTarget:
      return "unusable-target";
  }
  return "other";
}

void Checks(Json& json, const engine::PreflightResult& checks) {
  json.Key("checks").Open('[');
  for (const engine::Finding& f : checks.findings) {
    json.Open('{').Key("kind").Str(KindName(f.kind)).Key("stops").Bool(f.stops);
    json.Key("text").Str(f.text).Strings("keys", f.keys).Close('}');
  }
  json.Close(']');
}

void Tables(Json& json, const reporting::MigrationReport& report) {
  json.Key("tables").Open('[');
  for (const reporting::TableReport& t : report.tables) {
    json.Open('{').Key("access").Str(t.accessName).Key("target").Str(t.targetName);
    json.Key("accessRows").Num(t.accessRows).Key("targetRows").Num(t.targetRows);
    json.Key("valuesEqual").Bool(t.checksumsEqual).Key("valuesNote").Str(t.checksumNote);
    json.Key("indexesExpected").Num(t.indexesExpected).Key("indexesCreated").Num(t.indexesCreated);
    json.Key("primaryKeyExpected").Bool(t.primaryKeyExpected);
    json.Key("primaryKeyPresent").Bool(t.primaryKeyPresent);
    json.Key("foreignKeysExpected").Num(t.foreignKeysExpected);
    json.Key("foreignKeysPresent").Num(t.foreignKeysPresent);
    json.Strings("timeColumns", t.timeColumns);
    json.Key("linkExpected").Bool(t.linkExpected).Key("linked").Bool(t.linked);
    json.Key("linkReadOnly").Bool(t.linkReadOnly);
    json.Strings("linkColumns", t.linkColumns).Strings("linkTypesDiffer", t.linkTypesDiffer);
    json.Strings("linkWarnings", t.linkWarnings);
    json.Key("ok").Bool(t.Ok()).Close('}');
  }
  json.Close(']');
  json.Key("properties").Open('[');
  for (const reporting::PropertyLines& p : report.properties) {
    json.Open('{').Key("table").Str(p.targetTable).Strings("carried", p.carried);
    json.Strings("notCarried", p.notCarried).Close('}');
  }
  json.Close(']');
  json.Key("runFailures").Open('[');
  for (const auto& f : report.runFailures) {
    json.Open('{').Key("step").Str(f.context).Key("number").Num(f.number);
    json.Key("description").Str(f.description).Close('}');
  }
  json.Close(']');
  json.Strings("toolErrors", report.toolErrors).Key("verifyError").Str(report.verifyError);
  json.Key("accessFormat").Str(report.accessFormat);
  if (!report.serverTarget.empty()) json.Key("target").Str(report.serverTarget);
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (std::size_t i = 0; i < text.size();) {
    const char c = text[i];
    const std::size_t n = Utf8Length(text, i);
    if (n == 0) {
      out += "\\ufffd";
      ++i;
      continue;
    }
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
      out += escape;
    } else {
      out.append(text, i, n);
    }
    i += n;
  }
  return out + "\"";
}

std::string ReportJson(const std::vector<JobRecord>& jobs, int status) {
  Json json;
  json.Raw(std::string(kReportStart)).Key("files").Open('[');
  for (const JobRecord& job : jobs) {
    json.Open('{').Key("file").Str(job.accessFile).Key("status").Num(job.status);
    json.Key("ok").Bool(job.status == 0);
    if (job.checks) Checks(json, *job.checks);
    if (job.report) Tables(json, *job.report);
    json.Close('}');
  }
  json.Close(']').Key("status").Num(status).Close('}');
  return json.Text() + "\n";
}

}  // namespace console
