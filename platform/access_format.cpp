#include "platform/access_format.h"

#include <cstring>
#include <fstream>
#include <utility>

namespace platform {

namespace {

constexpr std::size_t kVersionAt = 0x14;
constexpr std::size_t kMaskFrom = 0x18;
constexpr std::size_t kEncryptionAt = 0x3E;
constexpr int kLastLinkableVersion = 5;  // Access 2016
constexpr int kLastReadableVersion = 6;  // Access 2019

std::string VersionName(bool ace, int version) {
  if (!ace) {
    if (version == 0) return "Jet 3 (Access 97)";
    if (version == 1) return "Jet 4 (Access 2000-2003)";
  } else {
    switch (version) {
      case 2:
        return "ACE 12 (Access 2007)";
      case 3:
        return "ACE 14 (Access 2010)";
      case 4:
        return "ACE 15 (Access 2013)";
      case 5:
        return "ACE 16 (Access 2016)";
      case 6:
        return "ACE 17 (Access 2019)";
      default:
        break;
    }
  }
  return std::string(ace ? "ACE" : "Jet") + " version " + std::to_string(version);
}

}  // namespace

void UnmaskJetHeader(std::uint8_t* data, std::size_t n) {
  const std::uint8_t key[4] = {0xC7, 0xDA, 0x39, 0x6B};
  std::uint8_t s[256];
  for (int i = 0; i < 256; ++i) s[i] = static_cast<std::uint8_t>(i);
  for (int i = 0, j = 0; i < 256; ++i) {
    j = (j + s[i] + key[i % 4]) & 255;
    std::swap(s[i], s[j]);
  }
  for (std::size_t k = 0, i = 0, j = 0; k < n; ++k) {
    i = (i + 1) & 255;
    j = (j + s[i]) & 255;
    std::swap(s[i], s[j]);
    data[k] ^= s[(s[i] + s[j]) & 255];
  }
}

AccessFormat DescribeAccessFormat(const std::vector<std::uint8_t>& pageZero) {
  AccessFormat f;
  const bool jet =
      pageZero.size() > kVersionAt && std::memcmp(pageZero.data() + 4, "Standard Jet DB", 15) == 0;
  const bool ace =
      pageZero.size() > kVersionAt && std::memcmp(pageZero.data() + 4, "Standard ACE DB", 15) == 0;
  if (pageZero.empty() || pageZero[0] != 0 || (!jet && !ace)) {
    f.name = "not an Access file (no Jet database header)";
    return f;
  }
  const int version = pageZero[kVersionAt];
  f.accessFile = true;
  f.name = VersionName(ace, version);
  const bool known =
      (jet && version <= 1) || (ace && version >= 2 && version <= kLastReadableVersion);
  const std::size_t masked = version == 0 ? 126 : 128;
  if (known && pageZero.size() >= kMaskFrom + masked) {
    std::vector<std::uint8_t> header(pageZero.begin() + kMaskFrom,
                                     pageZero.begin() + kMaskFrom + masked);
    UnmaskJetHeader(header.data(), header.size());
    const std::size_t at = kEncryptionAt - kMaskFrom;
    f.encrypted = (header[at] | header[at + 1] | header[at + 2] | header[at + 3]) != 0;
  }
  f.readable = known && !f.encrypted;
  f.linkable = f.readable && (jet || version <= kLastLinkableVersion);
  return f;
}

AccessFormat ReadAccessFormat(const std::string& posixPath) {
  std::ifstream in(posixPath, std::ios::binary);
  if (!in) return {};
  std::vector<std::uint8_t> page(4096);
  in.read(reinterpret_cast<char*>(page.data()), static_cast<std::streamsize>(page.size()));
  page.resize(static_cast<std::size_t>(in.gcount()));
  return DescribeAccessFormat(page);
}

std::string FormatSupportLine(const AccessFormat& format) {
  if (format.name.empty()) return {};
  std::string line = "Access file format: " + format.name;
  if (format.encrypted) line += ", encrypted";
  if (!format.accessFile) return line;
  if (format.linkable) return line + ": read; link-back supported";
  if (format.readable) return line + ": read as far as libmdb reads it; link-back not supported";
  return line + ": neither read nor linked back";
}

}  // namespace platform
