#pragma once
// The error trap every procedure runs under, and ErrorProc, the one place an
// unexpected failure is logged and shown with Copy, Abort, Retry and Ignore.
//
// A procedure runs its statements as steps of a Trap:
//     Trap trap(errors, "frmMDI", "UpdateBrightness");
//     if (!trap([&] { ... })) return;
// A step that throws is reported through ErrorProc; Retry runs the same step
// again, Ignore goes on with the next one, Abort ends the program (after
// ShutDown for main-window procedures) and any other answer leaves.
#include <cstdint>
#include <functional>
#include <new>
#include <stdexcept>
#include <string>
#include <string_view>

#include "support/runtime_error.h"

namespace kelvane {

class Host;
class StatusLog;

namespace answer {
inline constexpr int None = 0;
inline constexpr int Abort = 3;
inline constexpr int Retry = 4;
inline constexpr int Ignore = 5;
}  // namespace answer

class ErrorHandler {
 public:
  ErrorHandler(Host& host, StatusLog& log);

  // ErrorProc: logs the failure, shows it and returns the answer code.
  int errorProc(int number, const std::string& description, const std::string& location,
                const std::string& moduleName, int lineNumber);

  static std::string errorText(int number, const std::string& description,
                               const std::string& location, const std::string& moduleName,
                               int lineNumber);
  static std::string errorTitle(int number, const std::string& location);

  // The main window's ShutDown, run before the program ends on Abort from a
  // "frmMDI" procedure.
  void setMainWindowShutDown(std::function<void()> shutDown) { shutDown_ = std::move(shutDown); }

  // Ends the program as Abort does for a procedure of the given module.
  void abortProgram(std::string_view moduleName);

  // Unattended: nobody can answer a dialog (a server without a window, or a
  // remote client's request in the window program). A failure is logged and
  // written to standard error, and the trap leaves the procedure: never
  // Retry (it could loop), never Ignore (it would go on in a wrong state),
  // never Abort (a client must not end the program).
  void setUnattended(bool on) { unattended_ = on; }
  bool unattended() const { return unattended_; }

  // True while an error dialog is waiting for the user.
  bool dialogOpen() const { return depth_ > 0; }
  // True once an Abort has asked the program to end.
  bool ended() const { return ended_; }

  // The last failure reported, in one line ("Error 9 in Request: Subscript
  // out of range"), for callers that answer someone other than a person.
  const std::string& lastFailure() const { return lastFailure_; }
  // How many failures were reported so far: a caller sees whether its own
  // call failed even when the text repeats.
  std::uint64_t failureCount() const { return failureCount_; }

  Host& host() { return host_; }
  StatusLog& log() { return log_; }

 private:
  Host& host_;
  StatusLog& log_;
  std::function<void()> shutDown_;
  std::string lastFailure_;
  std::uint64_t failureCount_ = 0;
  int depth_ = 0;
  bool ended_ = false;
  bool shuttingDown_ = false;
  bool unattended_ = false;
};

// Makes the handler unattended for the lifetime of the scope.
class UnattendedScope {
 public:
  explicit UnattendedScope(ErrorHandler& errors) : errors_(errors), was_(errors.unattended()) {
    errors_.setUnattended(true);
  }
  ~UnattendedScope() { errors_.setUnattended(was_); }
  UnattendedScope(const UnattendedScope&) = delete;
  UnattendedScope& operator=(const UnattendedScope&) = delete;

 private:
  ErrorHandler& errors_;
  bool was_;
};

// Translates whatever a step threw into a run-time number and description.
struct CaughtFailure {
  int number;
  std::string description;
};
CaughtFailure describeCurrentException();

class Trap {
 public:
  Trap(ErrorHandler& errors, const char* moduleName, const char* location)
      : errors_(errors), module_(moduleName), location_(location) {}

  // Runs one step; false means the procedure must be left now.
  template <class F>
  bool operator()(F&& step) {
    if (left_) return false;
    for (;;) {
      CaughtFailure failure;
      try {
        step();
        return true;
      } catch (...) {
        failure = describeCurrentException();
      }
      const int code = errors_.errorProc(failure.number, failure.description, location_, module_, 0);
      if (code == answer::Retry) continue;
      if (code == answer::Ignore) return true;
      left_ = true;
      if (code == answer::Abort) errors_.abortProgram(module_);
      return false;
    }
  }

  bool left() const { return left_; }
  ErrorHandler& errors() { return errors_; }

 private:
  ErrorHandler& errors_;
  std::string module_;
  std::string location_;
  bool left_ = false;
};

}  // namespace kelvane
