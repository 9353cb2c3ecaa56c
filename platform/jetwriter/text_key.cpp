#include "platform/jetwriter/text_key.h"

#include <algorithm>
#include <cstdio>

#include "platform/jetwriter/jet_bytes.h"
#include "platform/jetwriter/jet_text.h"
#include "platform/jetwriter/text_key_codes.h"

namespace jetwriter {
namespace {

// One character of the Jet 3 sort order: its inline code bytes and, for accented letters, the
// nibble that goes into the extra-code block.
struct CharCode {
  char32_t ch;
  const char* inline_;
  int extra;
};

// Jet 3 "General 97": ASCII and Latin-1.
const CharCode kGeneral97[] = {
    {0x20, "\x11", 0x0}, {0x21, "\x12", 0x0},     {0x22, "\x13", 0x0},     {0x23, "\x14", 0x0},
    {0x24, "\x15", 0x0}, {0x25, "\x16", 0x0},     {0x26, "\x17", 0x0},     {0x27, "\x18", 0x0},
    {0x28, "\x19", 0x0}, {0x29, "\x1A", 0x0},     {0x2A, "\x1B", 0x0},     {0x2B, "\x1C", 0x0},
    {0x2C, "\x1D", 0x0}, {0x2D, "\x1E", 0x0},     {0x2E, "\x1F", 0x0},     {0x2F, "\x20", 0x0},
    {0x30, "\x56", 0x0}, {0x31, "\x57", 0x0},     {0x32, "\x58", 0x0},     {0x33, "\x59", 0x0},
    {0x34, "\x5A", 0x0}, {0x35, "\x5B", 0x0},     {0x36, "\x5C", 0x0},     {0x37, "\x5D", 0x0},
    {0x38, "\x5E", 0x0}, {0x39, "\x5F", 0x0},     {0x3A, "\x21", 0x0},     {0x3B, "\x22", 0x0},
    {0x3C, "\x23", 0x0}, {0x3D, "\x24", 0x0},     {0x3E, "\x25", 0x0},     {0x3F, "\x26", 0x0},
    {0x40, "\x27", 0x0}, {0x41, "\x60", 0x0},     {0x42, "\x61", 0x0},     {0x43, "\x62", 0x0},
    {0x44, "\x64", 0x0}, {0x45, "\x66", 0x0},     {0x46, "\x67", 0x0},     {0x47, "\x68", 0x0},
    {0x48, "\x69", 0x0}, {0x49, "\x6A", 0x0},     {0x4A, "\x6B", 0x0},     {0x4B, "\x6C", 0x0},
    {0x4C, "\x6D", 0x0}, {0x4D, "\x6F", 0x0},     {0x4E, "\x70", 0x0},     {0x4F, "\x72", 0x0},
    {0x50, "\x73", 0x0}, {0x51, "\x74", 0x0},     {0x52, "\x75", 0x0},     {0x53, "\x76", 0x0},
    {0x54, "\x77", 0x0}, {0x55, "\x78", 0x0},     {0x56, "\x7A", 0x0},     {0x57, "\x7B", 0x0},
    {0x58, "\x7C", 0x0}, {0x59, "\x7D", 0x0},     {0x5A, "\x7E", 0x0},     {0x5B, "\x28", 0x0},
    {0x5C, "\x29", 0x0}, {0x5D, "\x2A", 0x0},     {0x5E, "\x2B", 0x0},     {0x5F, "\x2C", 0x0},
    {0x60, "\x2D", 0x0}, {0x61, "\x60", 0x0},     {0x62, "\x61", 0x0},     {0x63, "\x62", 0x0},
    {0x64, "\x64", 0x0}, {0x65, "\x66", 0x0},     {0x66, "\x67", 0x0},     {0x67, "\x68", 0x0},
    {0x68, "\x69", 0x0}, {0x69, "\x6A", 0x0},     {0x6A, "\x6B", 0x0},     {0x6B, "\x6C", 0x0},
    {0x6C, "\x6D", 0x0}, {0x6D, "\x6F", 0x0},     {0x6E, "\x70", 0x0},     {0x6F, "\x72", 0x0},
    {0x70, "\x73", 0x0}, {0x71, "\x74", 0x0},     {0x72, "\x75", 0x0},     {0x73, "\x76", 0x0},
    {0x74, "\x77", 0x0}, {0x75, "\x78", 0x0},     {0x76, "\x7A", 0x0},     {0x77, "\x7B", 0x0},
    {0x78, "\x7C", 0x0}, {0x79, "\x7D", 0x0},     {0x7A, "\x7E", 0x0},     {0x7B, "\x2E", 0x0},
    {0x7C, "\x2F", 0x0}, {0x7D, "\x30", 0x0},     {0x7E, "\x31", 0x0},     {0xA0, "\x11", 0x0},
    {0xA1, "\x3B", 0x0}, {0xA2, "\x3C", 0x0},     {0xA3, "\x3D", 0x0},     {0xA4, "\x3E", 0x0},
    {0xA5, "\x3F", 0x0}, {0xA6, "\x40", 0x0},     {0xA7, "\x41", 0x0},     {0xA8, "\x42", 0x0},
    {0xA9, "\x43", 0x0}, {0xAA, "\x44", 0x0},     {0xAB, "\x13", 0x0},     {0xAC, "\x45", 0x0},
    {0xAD, "\x1E", 0x0}, {0xAE, "\x46", 0x0},     {0xAF, "\x47", 0x0},     {0xB0, "\x48", 0x0},
    {0xB1, "\x49", 0x0}, {0xB2, "\x58", 0x0},     {0xB3, "\x59", 0x0},     {0xB4, "\x4A", 0x0},
    {0xB5, "\x4B", 0x0}, {0xB6, "\x4C", 0x0},     {0xB7, "\x4D", 0x0},     {0xB8, "\x4E", 0x0},
    {0xB9, "\x57", 0x0}, {0xBA, "\x4F", 0x0},     {0xBB, "\x13", 0x0},     {0xBC, "\x50", 0x0},
    {0xBD, "\x51", 0x0}, {0xBE, "\x52", 0x0},     {0xBF, "\x53", 0x0},     {0xC0, "\x60", 0x3},
    {0xC1, "\x60", 0x4}, {0xC2, "\x60", 0x5},     {0xC3, "\x60", 0x7},     {0xC4, "\x60", 0x6},
    {0xC5, "\x60", 0x8}, {0xC6, "\x60\x66", 0x0}, {0xC7, "\x62", 0x9},     {0xC8, "\x66", 0x3},
    {0xC9, "\x66", 0x4}, {0xCA, "\x66", 0x5},     {0xCB, "\x66", 0x6},     {0xCC, "\x6A", 0x3},
    {0xCD, "\x6A", 0x4}, {0xCE, "\x6A", 0x5},     {0xCF, "\x6A", 0x6},     {0xD0, "\x65", 0x0},
    {0xD1, "\x70", 0x7}, {0xD2, "\x72", 0x3},     {0xD3, "\x72", 0x4},     {0xD4, "\x72", 0x5},
    {0xD5, "\x72", 0x7}, {0xD6, "\x72", 0x6},     {0xD7, "\x54", 0x0},     {0xD8, "\x81", 0x0},
    {0xD9, "\x78", 0x3}, {0xDA, "\x78", 0x4},     {0xDB, "\x78", 0x5},     {0xDC, "\x78", 0x6},
    {0xDD, "\x7D", 0x4}, {0xDE, "\x7F", 0x0},     {0xDF, "\x76\x76", 0x0}, {0xE0, "\x60", 0x3},
    {0xE1, "\x60", 0x4}, {0xE2, "\x60", 0x5},     {0xE3, "\x60", 0x7},     {0xE4, "\x60", 0x6},
    {0xE5, "\x60", 0x8}, {0xE6, "\x60\x66", 0x0}, {0xE7, "\x62", 0x9},     {0xE8, "\x66", 0x3},
    {0xE9, "\x66", 0x4}, {0xEA, "\x66", 0x5},     {0xEB, "\x66", 0x6},     {0xEC, "\x6A", 0x3},
    {0xED, "\x6A", 0x4}, {0xEE, "\x6A", 0x5},     {0xEF, "\x6A", 0x6},     {0xF0, "\x65", 0x0},
    {0xF1, "\x70", 0x7}, {0xF2, "\x72", 0x3},     {0xF3, "\x72", 0x4},     {0xF4, "\x72", 0x5},
    {0xF5, "\x72", 0x7}, {0xF6, "\x72", 0x6},     {0xF7, "\x55", 0x0},     {0xF8, "\x81", 0x0},
    {0xF9, "\x78", 0x3}, {0xFA, "\x78", 0x4},     {0xFB, "\x78", 0x5},     {0xFC, "\x78", 0x6},
    {0xFD, "\x7D", 0x4}, {0xFE, "\x7F", 0x0},     {0xFF, "\x7D", 0x6},
};

const CharCode* Find(const CharCode* table, std::size_t n, char32_t c) {
  for (std::size_t i = 0; i < n; ++i) {
    if (table[i].ch == c) return &table[i];
  }
  return nullptr;
}

[[noreturn]] void UnknownChar(char32_t c, bool jet4) {
  char hex[16];
  std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(c));
  Unsupported(std::string("The name holds the character ") + hex + ", whose index key in a " +
              (jet4 ? "Jet 4 or later" : "Jet 3") + " catalog this writer does not know.");
}

// Letters that take a place in the Jet 3 extra-code block ahead of an accented letter.
bool SignificantJet3(char32_t c) {
  switch (c | 0x20) {
    case 'a':
    case 'c':
    case 'e':
    case 'i':
    case 'n':
    case 'o':
    case 's':
    case 'u':
    case 'y':
      return c < 0x80;
    default:
      return false;
  }
}

void AppendInline(Bytes& out, const char* s) {
  for (; *s != 0; ++s) out.push_back(static_cast<std::uint8_t>(*s));
}

Bytes TextJet3(const std::u32string& text) {
  Bytes out;
  std::vector<int> nibbles;
  int significant = 0;
  for (char32_t c : text) {
    const CharCode* code = Find(kGeneral97, std::size(kGeneral97), c);
    if (code == nullptr) UnknownChar(c, false);
    AppendInline(out, code->inline_);
    if (code->extra == 0) {
      if (SignificantJet3(c)) ++significant;
      continue;
    }
    if (nibbles.empty()) nibbles.push_back(0);
    for (; significant > 0; --significant) nibbles.push_back(2);
    nibbles.push_back(code->extra);
  }
  if (nibbles.empty()) {
    out.push_back(0x00);
    return out;
  }
  nibbles.push_back(0);
  for (std::size_t i = 0; i < nibbles.size(); i += 2) {
    int lo = i + 1 < nibbles.size() ? nibbles[i + 1] : 0;
    out.push_back(static_cast<std::uint8_t>((nibbles[i] << 4) | lo));
  }
  return out;
}

// The codes of the text after its inline bytes: extra codes (accents, case), each character
// without one taking a placeholder 0x02 ahead of the next that has one; and the unprintable
// characters with their position.
struct TailCodes {
  Bytes extra;
  int extraChars = 0;
  Bytes unprintable;
};

Bytes TextJet4(const std::u32string& text, std::span<const KeyCode> codes) {
  Bytes out;
  TailCodes tail;
  int inlineChars = 0;
  for (char32_t c : text) {
    auto hit = std::lower_bound(codes.begin(), codes.end(), c,
                                [](const KeyCode& k, char32_t ch) { return k.ch < ch; });
    if (hit == codes.end() || hit->ch != c) UnknownChar(c, true);
    if (hit->ignored) continue;
    const int position = inlineChars;
    if (*hit->inline_ != 0) {
      AppendInline(out, hit->inline_);
      ++inlineChars;
    }
    if (hit->unprintable) {
      // Counted in the extra codes as they stand once the characters before it are filled in.
      const int at = tail.extra.empty()
                         ? position
                         : static_cast<int>(tail.extra.size()) + (position - tail.extraChars);
      const int offset = (7 + 4 * at) | 0x8000;
      tail.unprintable.push_back(static_cast<std::uint8_t>(offset >> 8));
      tail.unprintable.push_back(static_cast<std::uint8_t>(offset));
      tail.unprintable.push_back(0x06);
      AppendInline(tail.unprintable, hit->extra);
    } else if (*hit->extra != 0) {
      for (; tail.extraChars < position; ++tail.extraChars) tail.extra.push_back(0x02);
      AppendInline(tail.extra, hit->extra);
      ++tail.extraChars;
    }
  }
  out.push_back(0x01);
  while (!tail.extra.empty() && tail.extra.back() <= 0x02) tail.extra.pop_back();
  out.insert(out.end(), tail.extra.begin(), tail.extra.end());
  if (!tail.unprintable.empty()) {
    out.insert(out.end(), {0x01, 0x01, 0x01});
    out.insert(out.end(), tail.unprintable.begin(), tail.unprintable.end());
  }
  out.push_back(0x00);
  return out;
}

}  // namespace

Bytes TextKey(const std::string& utf8, const Format& f) {
  std::u32string text = CodePoints(utf8);
  while (!text.empty() && text.back() == U' ') text.pop_back();
  if (text.size() > 255) text.resize(255);
  Bytes key{0x7F};
  Bytes body = !f.jet4                  ? TextJet3(text)
               : f.textSortVersion == 0 ? TextJet4(text, GeneralLegacyCodes())
                                        : TextJet4(text, GeneralCodes());
  key.insert(key.end(), body.begin(), body.end());
  return key;
}

}  // namespace jetwriter
