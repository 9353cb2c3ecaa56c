// Databases (SQLite files) that another program holds locked: who holds one, the one text that
// says so, and the memory of the files this program already gave up waiting on.
//
// Owns: asking the system which process holds a SQLite file's write locks (fcntl F_GETLK, without
// opening the file as a database), the text of a wait that ran out, the error type that carries
// it, and a per-process list of the files whose wait ran out: while such a file is still held,
// a later wait on it ends at once instead of running out again (a held lock costs one time limit,
// not one per statement).
// Failures: none thrown here; DatabaseLocked is what the callers throw.
#pragma once

#include <chrono>
#include <string>

#include "platform/error.h"

namespace platform {

// A wait on a database that another program held for longer than the time limit.
class DatabaseLocked : public Error {
 public:
  using Error::Error;
};

// The process id of another program that holds the SQLite file locked for writing (a pending,
// reserved or exclusive lock), or 0.
long WriterHoldingLock(const std::string& posixPath);

// The process id of another program that holds any lock on the SQLite file (a reader too), or 0.
long ProgramHoldingLock(const std::string& posixPath);

// Takes every one of SQLite's locks of the open file `fd` for this process (an open-file lock,
// released when `fd` is closed), so that no other program reads or writes it meanwhile; false
// when another program holds one.
bool LockAgainstEveryProgram(int fd);

// "60 s", or "300 ms" for a limit that is no whole number of seconds.
std::string LimitText(std::chrono::milliseconds limit);

// "the database <file> is locked by another program (process N); gave up after 60 s", the
// process named while it still holds the file; `posixPath` empty: "the database is locked ...".
std::string LockedDatabaseText(const std::string& posixPath, std::chrono::milliseconds waited);

// Notes that a wait on `posixPath` ran out after `waited`.
void NoteGaveUpWaiting(const std::string& posixPath, std::chrono::milliseconds waited);
// When this program gave up waiting on `posixPath` earlier and a writer still holds it: the text
// of that wait (LockedDatabaseText); otherwise "" (and the file is forgotten once it is free).
std::string GaveUpEarlier(const std::string& posixPath);

}  // namespace platform
