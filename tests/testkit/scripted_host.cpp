#include "testkit/scripted_host.h"

namespace kelvane::testkit {

namespace {
template <class T>
T next(std::deque<T>& answers, T otherwise) {
  if (answers.empty()) return otherwise;
  T a = std::move(answers.front());
  answers.pop_front();
  return a;
}
}  // namespace

void ScriptedHost::record(const ShownBox& box) {
  shown.push_back(box);
  if (onShow) onShow(box);
}

int ScriptedHost::msgBox(const std::string& text, int buttons, const std::string& title) {
  record({"msgBox", text, title, buttons, {}});
  return next(msgBoxAnswers, buttons == mb::YesNo ? mb::Yes : mb::Ok);
}

std::string ScriptedHost::inputBox(const std::string& prompt, const std::string& title, const std::string&) {
  record({"inputBox", prompt, title, 0, {}});
  return next(inputAnswers, std::string());
}

std::string ScriptedHost::msgBox2(const std::string& text, const std::string& buttonList,
                                  const std::string& title, int, bool& showAgain) {
  record({"msgBox2", text, title, 0, buttonList});
  showAgain = true;
  return next(msgBox2Answers, std::string());
}

void ScriptedHost::doEvents() {
  ++doEventsCalls;
  if (auto f = onDoEvents) f();  // a copy: the hook may replace itself
}

int ScriptedHost::count(const std::string& kind) const {
  int n = 0;
  for (const auto& b : shown) n += b.kind == kind;
  return n;
}

}  // namespace kelvane::testkit
