// The wait at close for command files that still run: a small window says which file it waits
// for and has a "Stop waiting" button.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "platform/shell_start.h"

namespace wizard {

// Waits until every task has ended. False when the user stopped waiting (some still run).
bool WaitForCommandFiles(platform::CommandStarter& commands,
                         const std::vector<std::pair<int, std::string>>& tasks);

}  // namespace wizard
