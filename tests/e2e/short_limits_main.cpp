// norvane-migrate as it ships, with shorter waits for a database another program holds locked
// (1 s at the open, 2 s per statement), so the tests of held locks do not wait a minute.
#include "migrate/console_program.h"

int main(int argc, char** argv) {
  using std::chrono::milliseconds;
  return console::NorvaneMigrate(argc, argv,
                                 {.open = milliseconds(1000), .statement = milliseconds(2000)});
}
