#include "support/error_handler.h"

#include <cstdio>

#include "support/host.h"
#include "support/status_log.h"

namespace kelvane {

namespace {
// A failure inside the error path itself is reported once more through
// ErrorProc; a failure while reporting that one is not shown again.
constexpr int kMaxDepth = 2;
}  // namespace

CaughtFailure describeCurrentException() {
  try {
    throw;
  } catch (const RuntimeError& e) {
    return {e.number(), e.description()};
  } catch (const std::bad_alloc&) {
    return {rt::OutOfMemory, runtimeDescription(rt::OutOfMemory)};
  } catch (const std::out_of_range&) {
    return {rt::SubscriptOutOfRange, runtimeDescription(rt::SubscriptOutOfRange)};
  } catch (const std::overflow_error&) {
    return {rt::Overflow, runtimeDescription(rt::Overflow)};
  } catch (...) {
    return {rt::InvalidProcedureCall, runtimeDescription(rt::InvalidProcedureCall)};
  }
}

ErrorHandler::ErrorHandler(Host& host, StatusLog& log) : host_(host), log_(log) {}

std::string ErrorHandler::errorText(int number, const std::string& description,
                                    const std::string& location, const std::string& moduleName,
                                    int lineNumber) {
  const std::string n = std::to_string(number);
  return "Error " + n + " has been encountered in " + location + "\r\n\r\n" +
         "Details of this error: \r\n\r\n" + "Error: " + n + "\r\n" + "Desc: " + description +
         "\r\n" + "Location: " + location + "\r\n" + "Module: " + moduleName + "\r\n" +
         "Line Number: " + std::to_string(lineNumber) + "\r\n\r\n" +
         "Abort will end the program\r\n" + "Retry will try the function again\r\n" +
         "Ignore will skip the problem and try to continue";
}

std::string ErrorHandler::errorTitle(int number, const std::string& location) {
  return "Error " + std::to_string(number) + " in " + location;
}

int ErrorHandler::errorProc(int number, const std::string& description,
                            const std::string& location, const std::string& moduleName,
                            int lineNumber) {
  if (ended_) return answer::None;
  lastFailure_ = errorTitle(number, location) + ": " + description;
  ++failureCount_;
  if (depth_ >= kMaxDepth) {
    std::fprintf(stderr, "%s\n",
                 errorText(number, description, location, moduleName, lineNumber).c_str());
    return answer::None;
  }
  if (unattended_) {
    try {
      log_.message(errorText(number, description, location, moduleName, lineNumber));
    } catch (...) {
    }
    std::fprintf(stderr, "kelvane: %s\n", lastFailure_.c_str());
    return answer::None;
  }
  ++depth_;
  // ErrorProc's own trap: a failing statement is reported once more, and
  // Retry repeats it, Ignore goes on with the next one, anything else leaves.
  bool left = false;
  const auto step = [&](auto&& statement) {
    while (!left) {
      try {
        statement();
        return;
      } catch (...) {
        const CaughtFailure inner = describeCurrentException();
        const int innerCode = errorProc(inner.number, inner.description, "ErrorProc", "Common", 0);
        if (innerCode == answer::Retry) continue;
        if (innerCode == answer::Ignore) return;
        left = true;
        if (innerCode == answer::Abort) abortProgram("Common");
      }
    }
  };
  int code = answer::None;
  std::string text, title, caption;
  step([&] { text = errorText(number, description, location, moduleName, lineNumber); });
  step([&] { log_.message(text); });
  step([&] { log_.flush(); });  // the view and the file show it while the dialog waits
  step([&] { title = errorTitle(number, location); });
  step([&] {
    bool showAgain = false;
    caption = host_.msgBox2(text, "Copy,Abort,Retry,Ignore", title, 0, showAgain);
  });
  step([&] {
    if (caption == "Abort") code = answer::Abort;
    else if (caption == "Retry") code = answer::Retry;
    else if (caption == "Ignore") code = answer::Ignore;
  });
  --depth_;
  return left ? answer::None : code;
}

void ErrorHandler::abortProgram(std::string_view moduleName) {
  if (ended_) return;
  if (moduleName == "frmMDI" && shutDown_ && !shuttingDown_) {
    shuttingDown_ = true;
    shutDown_();
    shuttingDown_ = false;
  }
  ended_ = true;
  log_.flush();
  host_.endProgram(0);
}

}  // namespace kelvane
