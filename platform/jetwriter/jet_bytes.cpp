#include "platform/jetwriter/jet_bytes.h"

#include "platform/dao/dao.h"
#include "platform/error.h"

namespace jetwriter {

void BadFormat(const std::string& what) {
  throw platform::Error(dao::err::kUnrecognizedFormat,
                        "Unrecognized database format: " + what + ".");
}

void Unsupported(const std::string& what) {
  throw platform::Error(dao::err::kUnsupported, what);
}

void Need(const Bytes& b, std::size_t at, std::size_t n) {
  if (at > b.size() || n > b.size() - at) BadFormat("a field lies outside its page");
}

std::uint32_t Le16(const Bytes& b, std::size_t at) {
  Need(b, at, 2);
  return b[at] | (b[at + 1] << 8);
}
std::uint32_t Le24(const Bytes& b, std::size_t at) {
  Need(b, at, 3);
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16);
}
std::uint32_t Le32(const Bytes& b, std::size_t at) {
  Need(b, at, 4);
  return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) |
         (static_cast<std::uint32_t>(b[at + 3]) << 24);
}
void SetLe16(Bytes& b, std::size_t at, std::uint32_t v) {
  Need(b, at, 2);
  for (int i = 0; i < 2; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void SetLe24(Bytes& b, std::size_t at, std::uint32_t v) {
  Need(b, at, 3);
  for (int i = 0; i < 3; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}
void SetLe32(Bytes& b, std::size_t at, std::uint32_t v) {
  Need(b, at, 4);
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<std::uint8_t>(v >> (8 * i));
}

}  // namespace jetwriter
