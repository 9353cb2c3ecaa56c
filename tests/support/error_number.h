// The number of the platform::Error a call throws (0 when it throws none), and its description.
#pragma once

#include <string>

#include "platform/error.h"

namespace testing_support {

template <class Call>
int ErrorNumberOf(Call&& call, std::string* description = nullptr) {
  try {
    call();
  } catch (const platform::Error& e) {
    if (description != nullptr) *description = e.Description();
    return e.Number();
  }
  return 0;
}

}  // namespace testing_support
