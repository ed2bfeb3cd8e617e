#include "core/manual_ports.h"

namespace sono {

void ManualClock::sleepMs(int ms) {
  advance(ms);
  if (onSleep) onSleep(ms);
}

// With no scripted answer, a box takes the answer a careful user gives:
// "No" to a question, "Cancel" where there is one, "Ignore" to an error
// report, "Ok" to a notice.
static Answer defaultAnswer(Buttons b) {
  switch (b) {
    case Buttons::YesNo: return Answer::No;
    case Buttons::YesNoCancel: return Answer::Cancel;
    case Buttons::OkCancel: return Answer::Cancel;
    case Buttons::AbortRetryIgnore: return Answer::Ignore;
    case Buttons::Ok: break;
  }
  return Answer::Ok;
}

Answer ScriptedPrompt::message(const std::string& text, Icon icon, Buttons buttons,
                               const std::string& title) {
  shown.push_back({text, icon, buttons, title});
  if (answers.empty()) return defaultAnswer(buttons);
  const Answer a = answers.front();
  answers.pop_front();
  return a;
}

std::optional<std::string> ScriptedPrompt::pickFolder(const std::string& start,
                                                      const std::string&) {
  pickedFrom.push_back(start);
  if (folders.empty()) return std::nullopt;
  auto f = folders.front();
  folders.pop_front();
  return f;
}

std::optional<std::string> ScriptedPrompt::pickFile(const std::string& folder, const std::string&,
                                                    const std::string& proposedName) {
  pickedFrom.push_back(folder + proposedName);
  if (folders.empty()) return std::nullopt;
  auto f = folders.front();
  folders.pop_front();
  return f;
}

std::optional<int> ScriptedPrompt::chooseItem(const std::string&,
                                              const std::vector<std::string>& items, int current) {
  offeredLists.push_back(items);
  if (choices.empty()) return current;
  auto c = choices.front();
  choices.pop_front();
  return c;
}

void ScriptedPrompt::showStepWindow(bool show) { stepWindowVisible = show; }
void ScriptedPrompt::setStepLabel(const std::string& text) { stepLabels.push_back(text); }

void ManualEventLoop::processEvents() {
  ++pumps;
  for (auto& f : onPump) f();
}

}  // namespace sono
