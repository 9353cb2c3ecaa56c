#include "platform/write_access.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

std::string WriteRefusal(const std::string& posixPath) {
  struct stat st {};
  if (stat(posixPath.c_str(), &st) != 0) return "";
  const int mode = S_ISDIR(st.st_mode) ? W_OK | X_OK : W_OK;
  if (faccessat(AT_FDCWD, posixPath.c_str(), mode, AT_EACCESS) == 0) return "";
  return std::strerror(errno);
}

}  // namespace platform
