// The short (8.3-style) form of the folder of a file path.
#pragma once

#include <string>
#include <string_view>

namespace platform::paths {

// "C:\Program Files\Tools\win32\ivex.exe" gives "C:\Progra~1\Tools\win32\": every folder
// segment that holds a blank becomes its first six characters and "~N", N its place among the
// folder's entries that hold a blank and share those six characters, in the order
// platform::paths::ShortAliasSiblings gives ("Sales Data 2023" ~1, "Sales Data 2024" ~2); N is 1
// for a folder that is not on this disk. The file name is dropped. "C:\Sales.mdb" gives "C:\";
// a path without a backslash gives "".
std::string ShortPathOf(std::string_view path);

}  // namespace platform::paths
