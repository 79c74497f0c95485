#pragma once
// A Host for a program nobody sits at (the server without a window, the INDI
// driver): a notice goes to the given sink, a question is answered No, an
// input box is cancelled, and an error dialog is answered with nothing,
// which leaves the failing procedure so that its caller can report the
// failure to whoever asked.
#include <functional>
#include <string>

#include "support/host.h"

namespace kelvane {

class ErrorHandler;

class UnattendedHost final : public Host {
 public:
  using Sink = std::function<void(const std::string&)>;
  explicit UnattendedHost(Sink notice) : notice_(std::move(notice)) {}

  // The error dialog's text is long; the sink gets the handler's one line.
  void setErrorHandler(const ErrorHandler* errors) { errors_ = errors; }

  int msgBox(const std::string& text, int buttons, const std::string& title) override;
  std::string inputBox(const std::string&, const std::string&, const std::string&) override { return {}; }
  std::string msgBox2(const std::string& text, const std::string& buttonList, const std::string& title,
                      int helpContextId, bool& showAgain) override;
  void setClipboardText(const std::string&) override {}
  void showHelp(const std::string&, int) override {}
  void doEvents() override {}
  void endProgram(int) override {}

 private:
  void notify(const std::string& text) const {
    if (notice_) notice_(text);
  }
  Sink notice_;
  const ErrorHandler* errors_ = nullptr;
};

}  // namespace kelvane
