#include "platform/jetwriter/jet_text.h"

#include <cstdio>

#include "platform/jetwriter/jet_bytes.h"
#include "platform/text.h"

namespace jetwriter {

std::u32string CodePoints(const std::string& s) {
  std::u32string out;
  for (std::size_t i = 0; i < s.size();) {
    unsigned char c = static_cast<unsigned char>(s[i]);
    int n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > s.size()) Unsupported("The name is not valid UTF-8 text.");
    char32_t cp = n == 1 ? c : c & (0x7F >> n);
    for (int k = 1; k < n; ++k) {
      unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) Unsupported("The name is not valid UTF-8 text.");
      cp = (cp << 6) | (cc & 0x3F);
    }
    out += cp;
    i += static_cast<std::size_t>(n);
  }
  return out;
}

std::string DecodeText(const Bytes& b, const Format& f) {
  std::string out;
  if (!f.jet4) {
    return platform::Cp1252ToUtf8(
        std::string_view(reinterpret_cast<const char*>(b.data()), b.size()));
  }
  if (b.size() >= 2 && b[0] == 0xFF && b[1] == 0xFE) {  // compressed unicode
    bool compressed = true;
    for (std::size_t i = 2; i < b.size();) {
      if (b[i] == 0) {
        compressed = !compressed;
        ++i;
      } else if (compressed) {
        platform::AppendUtf8(out, b[i++]);
      } else if (i + 1 < b.size()) {
        platform::AppendUtf8(out, b[i] | (b[i + 1] << 8));
        i += 2;
      } else {
        break;
      }
    }
    return out;
  }
  for (std::size_t i = 0; i + 1 < b.size(); i += 2)
    platform::AppendUtf8(out, b[i] | (b[i + 1] << 8));
  return out;
}

Bytes EncodeText(const std::string& utf8, const Format& f) {
  Bytes out;
  for (char32_t c : CodePoints(utf8)) {
    if (!f.jet4) {
      if (c > 0xFF || (c >= 0x80 && c < 0xA0)) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "U+%04X", static_cast<unsigned>(c));
        Unsupported(std::string("The character ") + hex +
                    " cannot be stored in a Jet 3 catalog name.");
      }
      out.push_back(static_cast<std::uint8_t>(c));
    } else {
      if (c > 0xFFFF)
        Unsupported("Characters outside the Basic Multilingual Plane cannot be stored.");
      out.push_back(static_cast<std::uint8_t>(c));
      out.push_back(static_cast<std::uint8_t>(c >> 8));
    }
  }
  return out;
}

}  // namespace jetwriter
