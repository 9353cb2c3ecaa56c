// norvane-migrate: the migration wizard's job from the command line.
#include "migrate/console_program.h"

int main(int argc, char** argv) {
  return console::NorvaneMigrate(argc, argv);
}
