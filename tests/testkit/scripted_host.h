#pragma once
// A Host that answers every dialog from a script and records what was shown,
// so no test ever waits for a person.
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "support/host.h"

namespace kelvane::testkit {

struct ShownBox {
  std::string kind;  // "msgBox", "inputBox", "msgBox2"
  std::string text;
  std::string title;
  int buttons = 0;            // msgBox button set
  std::string buttonList;     // msgBox2 button list
};

class ScriptedHost : public Host {
 public:
  // Answers, consumed in order. When a queue is empty the defaults apply:
  // msgBox answers Ok (Yes for Yes/No), inputBox answers "", msgBox2 answers "".
  std::deque<int> msgBoxAnswers;
  std::deque<std::string> inputAnswers;
  std::deque<std::string> msgBox2Answers;
  // Runs inside doEvents(); lets a test inject a click "during" a pass.
  std::function<void()> onDoEvents;
  // Called when a box is shown, before it answers.
  std::function<void(const ShownBox&)> onShow;

  std::vector<ShownBox> shown;
  // The last box shown; an empty one when none was, so a test fails rather than crashes.
  ShownBox lastShown() const { return shown.empty() ? ShownBox{} : shown.back(); }
  std::string clipboard;
  std::vector<std::pair<std::string, int>> helpRequests;
  int doEventsCalls = 0;
  int endProgramCalls = 0;

  int msgBox(const std::string& text, int buttons, const std::string& title) override;
  std::string inputBox(const std::string& prompt, const std::string& title,
                       const std::string& defaultText) override;
  std::string msgBox2(const std::string& text, const std::string& buttonList,
                      const std::string& title, int helpContextId, bool& showAgain) override;
  void setClipboardText(const std::string& text) override { clipboard = text; }
  void showHelp(const std::string& helpFile, int topic) override { helpRequests.emplace_back(helpFile, topic); }
  void doEvents() override;
  void endProgram(int) override { ++endProgramCalls; }

  int count(const std::string& kind) const;

 private:
  void record(const ShownBox& box);
};

}  // namespace kelvane::testkit
