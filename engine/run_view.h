// What the migration run shows: the final page implements this view, tests record it.
//
// Owns: nothing; the run calls it on the user-interface thread.
// Failures: a view reports none; its operations do not throw.
#pragma once

#include <cstdint>
#include <string>

#include "platform/error.h"
#include "platform/text.h"

namespace engine {

enum class Pointer { Default, Hourglass };

// The connect string without its first nine characters (as many as "ODBC;dsn=" has).
inline std::string OdbcSourceText(const std::string& connect) {
  return connect.substr(platform::LeftChars(connect, 9).size());
}

class RunView {
 public:
  virtual ~RunView() = default;

  virtual void SetStatusText(const std::string& text) = 0;
  // A value from 0 to 100: the run keeps the previous value rather than pass a larger one.
  virtual void SetProgress(float value) = 0;
  virtual void SetProgressVisible(bool visible) = 0;
  // Rows done of a long step on `what` (a table's transfer), often; total 0 when not known. The
  // view shows what it likes of it, as often as it likes.
  virtual void SetRowProgress(const std::string& /*what*/, std::uint64_t /*done*/,
                              std::uint64_t /*total*/) {}
  // The "ODBC source:" box.
  virtual void SetOdbcSourceText(const std::string& text) = 0;
  // After connecting, the connect string the target reports. The box takes OdbcSourceText of it;
  // a view that shows more of it says so here.
  virtual void ShowTargetConnect(const std::string& connect) {
    SetOdbcSourceText(OdbcSourceText(connect));
  }
  virtual void EnableFinish() = 0;
  virtual void Repaint() = 0;
  // Processes pending window events; the run may be asked to start again meanwhile (it refuses).
  virtual void YieldToEventLoop() = 0;
  // A message box with the text and an OK button; returns when the user has closed it.
  virtual void ShowMessage(const std::string& text) = 0;
  virtual void SetPointer(Pointer pointer) = 0;
  // At the end of every run that reached its closing phase: the steps that failed, empty when
  // none did. The view shows them so that a run with failures never looks like a clean success.
  virtual void ShowRunFailures(const platform::FailureLog& failures) = 0;
};

}  // namespace engine
