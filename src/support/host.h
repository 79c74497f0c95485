#pragma once
// Everything that waits for a person or ends the program goes through Host, so
// the program logic can be driven by a script in tests and by Qt in the app.
#include <string>

namespace kelvane {

// Standard message box button sets and answers (the platform's numbers).
namespace mb {
inline constexpr int OkOnly = 0;
inline constexpr int YesNo = 4;
inline constexpr int Ok = 1;
inline constexpr int Yes = 6;
inline constexpr int No = 7;
}  // namespace mb

class Host {
 public:
  virtual ~Host() = default;

  // Modal standard message box; returns the answer (mb::Ok, mb::Yes, mb::No).
  // An empty title means the application's own title.
  virtual int msgBox(const std::string& text, int buttons, const std::string& title) = 0;

  // Modal input box; returns the typed text, empty when cancelled.
  virtual std::string inputBox(const std::string& prompt, const std::string& title,
                               const std::string& defaultText) = 0;

  // The program's own message box window (word-wrapped text, any buttons).
  // Returns the caption of the button that closed it, as it stood in the list.
  virtual std::string msgBox2(const std::string& text, const std::string& buttonList,
                              const std::string& title, int helpContextId, bool& showAgain) = 0;

  virtual void setClipboardText(const std::string& text) = 0;

  // Opens the help file at a numbered topic.
  virtual void showHelp(const std::string& helpFile, int topic) = 0;

  // One pass of the event queue.
  virtual void doEvents() = 0;

  // Ends the program at once. In the app this does not return; a scripted
  // host records the request and returns, and the caller then leaves.
  virtual void endProgram(int exitCode) = 0;
};

}  // namespace kelvane
