// norvane-migrate as it ships, killed (SIGKILL) before its n-th write point to the Access file
// when NORVANE_KILL_AT=n; it prints the number of write points it passed to stderr at its end.
#include <cstdio>
#include <cstdlib>

#include "migrate/console_program.h"
#include "platform/jetwriter/page_file.h"

int main(int argc, char** argv) {
  if (const char* at = std::getenv("NORVANE_KILL_AT"))
    jetwriter::SetKillBeforePageWrite(std::atoi(at));
  const int status = console::NorvaneMigrate(argc, argv);
  std::fprintf(stderr, "write points: %d\n", jetwriter::PageWritesSoFar());
  return status;
}
