// Every test program loads this build's ODBC driver, run by ctest or by hand: unless the caller
// set ODBCSYSINI, it is the build's folder with the build's odbcinst.ini (tests/environment).
// Set before main, ahead of the driver manager's first look at it.
#include <cstdlib>

namespace {

[[maybe_unused]] const bool kBuildDriver = [] {
  setenv("ODBCSYSINI", NORVANE_TEST_ODBCSYSINI, 0);
  return true;
}();

}  // namespace
