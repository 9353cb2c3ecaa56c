// Little-endian fields of Jet pages and the two errors every decoder throws.
//
// Owns: bounds-checked reads and writes of 16-, 24- and 32-bit fields.
// Failures: a field outside its buffer throws platform::Error with dao::err::kUnrecognizedFormat
// (BadFormat); Unsupported throws dao::err::kUnsupported. Nothing here touches a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/jetwriter/page_file.h"

namespace jetwriter {

[[noreturn]] void BadFormat(const std::string& what);
[[noreturn]] void Unsupported(const std::string& what);

std::uint32_t Le16(const Bytes& b, std::size_t at);
std::uint32_t Le24(const Bytes& b, std::size_t at);
std::uint32_t Le32(const Bytes& b, std::size_t at);
void SetLe16(Bytes& b, std::size_t at, std::uint32_t v);
void SetLe24(Bytes& b, std::size_t at, std::uint32_t v);
void SetLe32(Bytes& b, std::size_t at, std::uint32_t v);

// Throws BadFormat unless b holds n bytes from `at`.
void Need(const Bytes& b, std::size_t at, std::size_t n);

}  // namespace jetwriter
