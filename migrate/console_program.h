// The whole program norvane-migrate, for its main and for tests that run it as it ships.
#pragma once

#include <chrono>

namespace console {

// How long the run waits for a database another program holds locked: when its target is
// opened, and in each statement on it (the check and the properties step included). The
// product's limits; a test build shortens them.
struct LockLimits {
  std::chrono::milliseconds open{std::chrono::seconds(5)};
  std::chrono::milliseconds statement{std::chrono::seconds(60)};
};

// Parses the command line, runs the job with the real engine, tools and checker, and returns
// the exit status.
int NorvaneMigrate(int argc, char** argv, const LockLimits& limits = {});

}  // namespace console
