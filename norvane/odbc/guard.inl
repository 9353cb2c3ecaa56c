// Guard: the one place where an entry point's exceptions become diagnostics.
#pragma once

#include <exception>
#include <new>

namespace norvane::odbc {

template <typename Body>
SQLRETURN Guard(Handle* handle, Body&& body) {
  if (handle == nullptr) return SQL_INVALID_HANDLE;
  handle->diag.clear();
  handle->diagRowCount = 0;
  SQLRETURN rc = SQL_ERROR;
  try {
    rc = body();
    if (rc == SQL_SUCCESS && !handle->diag.empty()) rc = SQL_SUCCESS_WITH_INFO;
  } catch (const DriverError& e) {
    handle->diag.push_back({e.state, e.native, MessageText(e.message)});
    rc = SQL_ERROR;
  } catch (const std::bad_alloc&) {
    handle->diag.push_back({"HY001", 0, MessageText("Memory allocation error")});
    rc = SQL_ERROR;
  } catch (const std::exception& e) {
    handle->diag.push_back({"HY000", 0, MessageText(e.what())});
    rc = SQL_ERROR;
  }
  handle->lastReturn = rc;
  return rc;
}

}  // namespace norvane::odbc
