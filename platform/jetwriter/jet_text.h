// Text of catalog columns and names: code page 1252 bytes (Jet 3) or UCS-2 (Jet 4), from and
// to UTF-8.
//
// Owns: the code conversions.
// Failures: encoding throws kUnsupported for a character the format cannot hold or malformed
// UTF-8; decoding never fails.
#pragma once

#include <string>

#include "platform/jetwriter/jet_version.h"
#include "platform/jetwriter/page_file.h"

namespace jetwriter {

std::string DecodeText(const Bytes& b, const Format& f);
Bytes EncodeText(const std::string& utf8, const Format& f);
// Code points of a UTF-8 string; throws kUnsupported for malformed UTF-8.
std::u32string CodePoints(const std::string& utf8);

}  // namespace jetwriter
