// The path forms of platform/paths.h under the names the wizard still calls them by.
#pragma once

#include "platform/paths.h"

namespace engine {

using platform::paths::IsWindowsForm;
using platform::paths::PosixPathOf;
using platform::paths::WindowsFormOf;

}  // namespace engine
