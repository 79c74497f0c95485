#include "testkit/scripted_host.h"

namespace kelvane::testkit {

int ScriptedHost::msgBox(const std::string& text, int buttons, const std::string& title) {
  ShownBox box{"msgBox", text, title, buttons, {}};
  shown.push_back(box);
  if (onShow) onShow(box);
  if (!msgBoxAnswers.empty()) {
    const int a = msgBoxAnswers.front();
    msgBoxAnswers.pop_front();
    return a;
  }
  return buttons == mb::YesNo ? mb::Yes : mb::Ok;
}

std::string ScriptedHost::inputBox(const std::string& prompt, const std::string& title,
                                   const std::string&) {
  ShownBox box{"inputBox", prompt, title, 0, {}};
  shown.push_back(box);
  if (onShow) onShow(box);
  if (inputAnswers.empty()) return {};
  std::string a = inputAnswers.front();
  inputAnswers.pop_front();
  return a;
}

std::string ScriptedHost::msgBox2(const std::string& text, const std::string& buttonList,
                                  const std::string& title, int, bool& showAgain) {
  ShownBox box{"msgBox2", text, title, 0, buttonList};
  shown.push_back(box);
  if (onShow) onShow(box);
  showAgain = true;
  if (msgBox2Answers.empty()) return {};
  std::string a = msgBox2Answers.front();
  msgBox2Answers.pop_front();
  return a;
}

void ScriptedHost::doEvents() {
  ++doEventsCalls;
  if (onDoEvents) {
    auto f = onDoEvents;
    f();
  }
}

int ScriptedHost::count(const std::string& kind) const {
  int n = 0;
  for (const auto& b : shown) n += b.kind == kind;
  return n;
}

}  // namespace kelvane::testkit
