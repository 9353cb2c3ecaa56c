// The waits a close makes for work still under way: a small window says what it waits for and
// has a "Stop waiting" button.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/shell_start.h"

namespace wizard {

// Shows `text` until `ended` is true (asked often) or the user stops waiting; false then.
bool WaitVisibly(const std::string& text, const std::function<bool()>& ended);

// Waits until every task has ended. False when the user stopped waiting (some still run).
bool WaitForCommandFiles(platform::CommandStarter& commands,
                         const std::vector<std::pair<int, std::string>>& tasks);

}  // namespace wizard
