#pragma once
// The app's Host: Qt's standard dialogs, the clipboard, the help viewer and
// the event queue. The status log is brought up to date before anything
// blocks for the user.
#include <QPointer>
#include <QWidget>
#include <functional>

#include "support/host.h"

namespace kelvane {

class StatusLog;
class ErrorHandler;
class HelpLauncher;

class QtHost final : public Host {
 public:
  explicit QtHost(StatusLog& log) : log_(log) {}
  void setOwner(QWidget* owner) { owner_ = owner; }
  void setErrorHandler(ErrorHandler* errors) { errors_ = errors; }
  void setHelpLauncher(HelpLauncher* help) { help_ = help; }
  // While the program ends because the session ends (a signal, the display
  // gone), nobody may be there to answer: dialogs are not shown but written
  // to stderr, each taking the answer that changes least (No; the error
  // dialog Ignore, so the ending goes on); the event queue is not run.
  void setUnattended(bool on) { unattended_ = on; }
  bool unattended() const { return unattended_; }
  // Runs once before endProgram ends the process, whoever asked for it (what
  // the window still has to write).
  void setBeforeEnd(std::function<void()> beforeEnd) { beforeEnd_ = std::move(beforeEnd); }

  int msgBox(const std::string& text, int buttons, const std::string& title) override;
  std::string inputBox(const std::string& prompt, const std::string& title,
                       const std::string& defaultText) override;
  std::string msgBox2(const std::string& text, const std::string& buttonList,
                      const std::string& title, int helpContextId, bool& showAgain) override;
  void setClipboardText(const std::string& text) override;
  void showHelp(const std::string& helpFile, int topic) override;
  void doEvents() override;
  void endProgram(int exitCode) override;

 private:
  QWidget* owner() const;
  StatusLog& log_;
  QPointer<QWidget> owner_;
  ErrorHandler* errors_ = nullptr;
  HelpLauncher* help_ = nullptr;
  bool unattended_ = false;
  std::function<void()> beforeEnd_;
};

// One pass of the event queue, as the program's procedures ask for it.
void passEventQueue();

// The application's title, used where a dialog has no title of its own.
QString applicationTitle();

}  // namespace kelvane
