// The whole program norvane-migrate, for its main and for tests that run it as it ships.
#pragma once

namespace console {

// Parses the command line, runs the job with the real engine, tools and checker, and returns
// the exit status.
int NorvaneMigrate(int argc, char** argv);

}  // namespace console
