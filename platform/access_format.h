// What an Access file's first page says about its format, and what this program does with it:
// which formats it reads and which it can link back.
//
// Owns: decoding the database header (its signature, version byte and masked encryption field).
// Failures: none thrown. A file that cannot be opened gives an empty description; a file without
// a Jet header is described as not an Access file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

struct AccessFormat {
  std::string name;  // "Jet 4 (Access 2000-2003)"; empty when the file could not be read
  bool accessFile = false;
  bool encrypted = false;
  bool readable = false;  // this program reads its tables
  bool linkable = false;  // this program can rename its tables and add links
};

// The header is masked with RC4 under a fixed key from byte 0x18; applies that mask in place.
void UnmaskJetHeader(std::uint8_t* data, std::size_t n);

// From the first bytes of the file (at least 0x80 for the version, a whole page 0 for the
// encryption field).
AccessFormat DescribeAccessFormat(const std::vector<std::uint8_t>& pageZero);
AccessFormat ReadAccessFormat(const std::string& posixPath);

// The report's line for the file, and the program's support in one sentence.
std::string FormatSupportLine(const AccessFormat& format);
inline constexpr const char* kFormatsSupported =
    "read: Access 97 to Access 2019; link-back: Access 97 to Access 2016, unencrypted";

}  // namespace platform
