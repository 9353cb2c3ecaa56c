// The short (8.3-style) form of the folder of a file path.
#pragma once

#include <string>
#include <string_view>

namespace target {

// "C:\Program Files\Tools\win32\ivex.exe" gives "C:\Progra~1\Tools\win32\": every folder
// segment that holds a blank becomes its first six characters and "~1"; the file name is
// dropped. "C:\Sales.mdb" gives "C:\"; a path without a backslash gives "".
std::string ShortPathOf(std::string_view path);

}  // namespace target
