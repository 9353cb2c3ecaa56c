#include "platform/jetwriter/property_record.h"

#include <algorithm>
#include <mutex>
#include <random>

#include "platform/display_properties.h"
#include "platform/jetwriter/jet_bytes.h"
#include "platform/jetwriter/jet_text.h"
#include "platform/jetwriter/row_codec.h"
#include "platform/text.h"

namespace jetwriter {
namespace {

constexpr std::uint16_t kNamePool = 0x80, kTableBlock = 0x00, kColumnBlock = 0x01;

[[noreturn]] void Bad(const std::string& why) {
  BadFormat("a property record " + why);
}

Bytes Magic(const Format& f) {
  return f.jet4 ? Bytes{'M', 'R', '2', 0} : Bytes{'K', 'K', 'D', 0};
}

// A name: its byte length (2 bytes), then its text.
std::string NameAt(const Bytes& b, std::size_t& at, std::size_t end, const Format& f) {
  if (at + 2 > end) Bad("ends inside a name");
  const std::size_t n = Le16(b, at);
  if (at + 2 + n > end) Bad("ends inside a name");
  std::string name = DecodeText(Bytes(b.begin() + static_cast<std::ptrdiff_t>(at + 2),
                                      b.begin() + static_cast<std::ptrdiff_t>(at + 2 + n)),
                                f);
  at += 2 + n;
  return name;
}

void PutName(Bytes& out, const std::string& name, const Format& f) {
  const Bytes text = EncodeText(name, f);
  out.push_back(static_cast<std::uint8_t>(text.size()));
  out.push_back(static_cast<std::uint8_t>(text.size() >> 8));
  out.insert(out.end(), text.begin(), text.end());
}

void PutLe(Bytes& out, std::uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) out.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

}  // namespace

PropertyRecord ParsePropertyRecord(const Bytes& b, const Format& f) {
  PropertyRecord record;
  if (b.empty()) return record;
  const Bytes magic = Magic(f);
  if (b.size() < 4 || !std::equal(magic.begin(), magic.end(), b.begin()))
    Bad("does not start as this format's records do");
  std::vector<std::string> names;
  for (std::size_t at = 4; at < b.size();) {
    if (at + 6 > b.size()) Bad("ends inside a block head");
    const std::size_t length = Le32(b, at);
    const std::uint32_t type = Le16(b, at + 4);
    if (length < 6 || at + length > b.size()) Bad("has a block longer than the record");
    const std::size_t end = at + length;
    std::size_t p = at + 6;
    if (type == kNamePool) {
      while (p < end) names.push_back(NameAt(b, p, end, f));
    } else {
      PropertyBlock block;
      block.column = type == kColumnBlock;
      if (p + 4 > end) Bad("ends inside a block name");
      const std::size_t nameLength = Le32(b, p);
      if (nameLength < 4 || p + nameLength > end) Bad("has a block name longer than its block");
      if (nameLength > 6) {
        std::size_t q = p + 4;
        block.name = NameAt(b, q, p + nameLength, f);
      }
      p += nameLength;
      while (p < end) {
        if (p + 8 > end) Bad("ends inside a property");
        const std::size_t valueLength = Le16(b, p);
        const std::size_t nameIndex = Le16(b, p + 4);
        const std::size_t dataLength = Le16(b, p + 6);
        if (valueLength < 8 + dataLength || p + valueLength > end)
          Bad("has a property longer than its block");
        if (nameIndex >= names.size()) Bad("names a property its name pool lacks");
        block.properties.push_back(
            {names[nameIndex], b[p + 2], b[p + 3],
             Bytes(b.begin() + static_cast<std::ptrdiff_t>(p + 8),
                   b.begin() + static_cast<std::ptrdiff_t>(p + 8 + dataLength))});
        p += valueLength;
      }
      record.push_back(std::move(block));
    }
    at = end;
  }
  return record;
}

Bytes BuildPropertyRecord(const PropertyRecord& record, const Format& f) {
  std::vector<std::string> names;  // the pool, in the order first used
  for (const PropertyBlock& block : record)
    for (const Property& p : block.properties)
      if (std::find(names.begin(), names.end(), p.name) == names.end()) names.push_back(p.name);
  if (names.empty()) return {};
  Bytes out = Magic(f);
  const auto block = [&](std::uint16_t type, const Bytes& body) {
    PutLe(out, static_cast<std::uint32_t>(body.size() + 6), 4);
    PutLe(out, type, 2);
    out.insert(out.end(), body.begin(), body.end());
  };
  Bytes pool;
  for (const std::string& name : names) PutName(pool, name, f);
  block(kNamePool, pool);
  for (const PropertyBlock& b : record) {
    if (b.properties.empty()) continue;
    Bytes name;
    PutName(name, b.name, f);
    Bytes body;
    PutLe(body, static_cast<std::uint32_t>(name.size() + 4), 4);
    body.insert(body.end(), name.begin(), name.end());
    for (const Property& p : b.properties) {
      if (p.value.size() > 0xFFFF - 8) Unsupported("The property " + p.name + " is too long.");
      const auto index =
          static_cast<std::uint32_t>(std::find(names.begin(), names.end(), p.name) - names.begin());
      PutLe(body, static_cast<std::uint32_t>(p.value.size() + 8), 2);
      body.push_back(p.flags);
      body.push_back(p.type);
      PutLe(body, index, 2);
      PutLe(body, static_cast<std::uint32_t>(p.value.size()), 2);
      body.insert(body.end(), p.value.begin(), p.value.end());
    }
    block(b.column ? kColumnBlock : kTableBlock, body);
  }
  return out;
}

PropertyRecord DisplayPropertiesFor(const PropertyRecord& original,
                                    const std::vector<std::string>& columns) {
  PropertyRecord out;
  const auto kept = [](const PropertyBlock& from, const auto& list, PropertyBlock to) {
    for (const Property& p : from.properties)
      if (platform::IsListedProperty(list, p.name)) to.properties.push_back(p);
    return to;
  };
  for (const PropertyBlock& b : original)
    if (!b.column) out.push_back(kept(b, platform::kTableDisplayProperties, {false, "", {}}));
  for (const std::string& column : columns)
    for (const PropertyBlock& b : original)
      if (b.column && platform::EqualsNoCase(b.name, column))
        out.push_back(kept(b, platform::kColumnDisplayProperties, {true, column, {}}));
  return out;
}

Bytes NewGuid() {
  static std::mt19937_64 random{std::random_device{}()};
  static std::mutex mutex;
  const std::lock_guard lock(mutex);
  Bytes g(16);
  for (std::size_t i = 0; i < g.size(); i += 8) {
    const std::uint64_t r = random();
    for (std::size_t k = 0; k < 8; ++k) g[i + k] = static_cast<std::uint8_t>(r >> (8 * k));
  }
  g[7] = static_cast<std::uint8_t>((g[7] & 0x0F) | 0x40);  // version 4, in Data3's high byte
  g[8] = static_cast<std::uint8_t>((g[8] & 0x3F) | 0x80);  // the RFC 4122 variant
  return g;
}

Bytes NameMapOf(const std::string& table, const Bytes& tableGuid, const Bytes& created,
                const std::vector<std::pair<std::string, Bytes>>& columns, const Format& f) {
  Bytes out{0x0A, 0xCC, 0x0E, 0x55};
  const auto entry = [&](const Bytes& guid, std::uint32_t kind, Bytes about,
                         const std::string& name) {
    about.resize(16, 0);
    PutLe(out, 0, 4);
    out.insert(out.end(), guid.begin(), guid.end());
    PutLe(out, kind, 4);
    out.insert(out.end(), about.begin(), about.end());
    const Bytes text = EncodeText(name, f);
    out.insert(out.end(), text.begin(), text.end());
    PutLe(out, 0, f.jet4 ? 2 : 1);
  };
  entry(tableGuid, 0, created, table);
  for (const auto& [name, guid] : columns) entry(guid, 7, tableGuid, name);
  return out;
}

PropertyRecord LinkPropertiesFor(const PropertyRecord& original, const std::string& table,
                                 const std::vector<std::string>& columns, const Bytes& created,
                                 const Format& f) {
  PropertyRecord shown = DisplayPropertiesFor(original, columns);
  if (!f.jet4) return shown;
  constexpr std::uint8_t kOnLink = 0x80, kDdl = 0x01;
  for (PropertyBlock& b : shown)
    for (Property& p : b.properties) p.flags |= kOnLink;
  const auto guidOf = [](const Bytes& guid) {
    return Property{"GUID", kOnLink | kDdl, static_cast<std::uint8_t>(kTypeBinary), guid};
  };
  PropertyRecord out;
  PropertyBlock head{false, "", {guidOf(NewGuid())}};
  std::vector<std::pair<std::string, Bytes>> named;
  for (const std::string& column : columns) {
    PropertyBlock block{true, column, {guidOf(NewGuid())}};
    named.emplace_back(column, block.properties[0].value);
    for (const PropertyBlock& b : shown)
      if (b.column && b.name == column)
        block.properties.insert(block.properties.end(), b.properties.begin(), b.properties.end());
    out.push_back(std::move(block));
  }
  const bool keepsNames = std::any_of(original.begin(), original.end(), [](const PropertyBlock& b) {
    return !b.column && std::any_of(b.properties.begin(), b.properties.end(),
                                    [](const Property& p) { return p.name == "NameMap"; });
  });
  if (keepsNames)
    head.properties.push_back({"NameMap", 0, static_cast<std::uint8_t>(kTypeOle),
                               NameMapOf(table, head.properties[0].value, created, named, f)});
  for (const PropertyBlock& b : shown)
    if (!b.column)
      head.properties.insert(head.properties.end(), b.properties.begin(), b.properties.end());
  out.insert(out.begin(), std::move(head));
  return out;
}

}  // namespace jetwriter
