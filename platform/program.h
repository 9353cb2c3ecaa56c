// Ending the program.
//
// Owns: the one way the wizard's code ends the process, so tests can replace it.
// Failures: none; the production service does not return.
#pragma once

namespace platform {

class ProgramEnd {
 public:
  virtual ~ProgramEnd() = default;
  // Ends the program; no further events are handled. Test doubles record the call and return.
  virtual void EndProgram() = 0;
};

}  // namespace platform
