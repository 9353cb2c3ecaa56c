// What SQLGetFunctions answers from: every ODBC function by its SQL_API_ number and name, and
// whether this driver exports it.
#pragma once

#include <sql.h>

#include <span>

namespace norvane::odbc {

struct ApiFunction {
  SQLUSMALLINT id;
  const char* name;
  bool exported;
};
std::span<const ApiFunction> ApiFunctions();

}  // namespace norvane::odbc
