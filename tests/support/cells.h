// Values of a row as the Access reader gives them (platform::access::Cell), for tests.
#pragma once

#include <cstdint>
#include <string>

#include "platform/access/rows.h"

namespace testing_support {

inline platform::access::Cell IntegerCell(std::int64_t v) {
  platform::access::Cell c;
  c.null = false;
  c.integer = v;
  return c;
}

inline platform::access::Cell RealCell(double v) {
  platform::access::Cell c;
  c.null = false;
  c.real = v;
  return c;
}

// Text as UTF-8, or bytes.
inline platform::access::Cell BytesCell(const std::string& v) {
  platform::access::Cell c;
  c.null = false;
  c.bytes.assign(v.begin(), v.end());
  return c;
}

}  // namespace testing_support
