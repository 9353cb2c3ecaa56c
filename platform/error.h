// Errors of the platform services and the resume-next helper.
//
// Owns: the one error type every platform service throws (a number and a description, as the
// engine and the file system report them), the record of failures a run collects, and the helper
// through which the continue-on-failure procedures call a step.
// Failures: none of its own; `ResumeNext::Run` catches what a step throws.
#pragma once

#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace platform {

// Error numbers, kept compatible with the ones users of the old engine know.
namespace err {
inline constexpr int kOverflow = 6;  // a count too large for the variable that keeps it
inline constexpr int kInternal = 51;
inline constexpr int kFileNotFound = 53;
inline constexpr int kFileAlreadyOpen = 55;
inline constexpr int kPermissionDenied = 70;
inline constexpr int kPathFileAccess = 75;
inline constexpr int kPathNotFound = 76;
inline constexpr int kNoSuchDrive = 68;
inline constexpr int kBadFileName = 52;
// No such item in a collection; also a name that several entries match, none exactly.
inline constexpr int kItemNotFound = 3265;
}  // namespace err

class Error : public std::runtime_error {
 public:
  Error(int number, std::string description)
      : std::runtime_error(description), number_(number), description_(std::move(description)) {}
  int Number() const { return number_; }
  const std::string& Description() const { return description_; }

 private:
  int number_;
  std::string description_;
};

// One skipped step of a continue-on-failure procedure.
struct Failure {
  std::string context;  // which step, on what ("Transferring Orders")
  int number = 0;
  std::string description;
};

using FailureLog = std::vector<Failure>;

// The run-time error state of a resume-next procedure: Clear, Number, Description.
// `Run` executes one step; a failure is recorded (and appended to the log, if any) instead of
// propagating, so the procedure goes on with its next step.
class ResumeNext {
 public:
  explicit ResumeNext(FailureLog* log = nullptr) : log_(log) {}

  void Clear() {
    number_ = 0;
    description_.clear();
  }
  int Number() const { return number_; }
  const std::string& Description() const { return description_; }

  template <class Step>
  bool Run(const std::string& context, Step&& step) {
    try {
      step();
      return true;
    } catch (const Error& e) {
      Record(context, e.Number(), e.Description());
    } catch (const std::exception& e) {
      Record(context, err::kInternal, e.what());
    }
    return false;
  }

 private:
  void Record(const std::string& context, int number, const std::string& description) {
    number_ = number;
    description_ = description;
    if (log_ != nullptr) log_->push_back({context, number, description});
  }

  FailureLog* log_;
  int number_ = 0;
  std::string description_;
};

}  // namespace platform
