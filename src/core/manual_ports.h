// Test versions of the ports: a clock the test advances, a prompt that answers
// from a script and records every text it showed, an event loop that counts
// its pumps and runs queued work, and a desktop that records what it opened.
#pragma once
#include <deque>
#include <vector>

#include "core/ports.h"

namespace sono {

class ManualClock : public Clock {
 public:
  explicit ManualClock(LocalDateTime start = {2026, 3, 14, 9, 30, 0, 0}, uint64_t tick = 1000000)
      : wall_(start.toMs()), tick_(tick) {}
  LocalDateTime now() override { return LocalDateTime::fromMs(wall_); }
  uint64_t tickMs() override { return tick_; }
  void sleepMs(int ms) override;
  void advance(int64_t ms) { wall_ += ms; tick_ += static_cast<uint64_t>(ms); }
  void setWall(const LocalDateTime& t) { wall_ = t.toMs(); }
  // Runs on every sleep, after the clock moved (a test pumps another instance here).
  std::function<void(int)> onSleep;

 private:
  int64_t wall_;
  uint64_t tick_;
};

struct ShownMessage {
  std::string text;
  Icon icon;
  Buttons buttons;
  std::string title;
};

class ScriptedPrompt : public Prompt {
 public:
  Answer message(const std::string& text, Icon icon, Buttons buttons,
                 const std::string& title = {}) override;
  std::optional<std::string> pickFolder(const std::string& start,
                                        const std::string& title = {}) override;
  std::optional<std::string> pickFile(const std::string& folder, const std::string& filter,
                                      const std::string& proposedName) override;
  std::optional<int> chooseItem(const std::string& title, const std::vector<std::string>& items,
                                int current) override;
  void showStepWindow(bool show) override;
  void setStepLabel(const std::string& text) override;

  std::deque<Answer> answers;                      // consumed in order; else the default
  std::deque<std::optional<std::string>> folders;  // answers of pickFolder / pickFile
  std::deque<std::optional<int>> choices;          // answers of chooseItem; else `current`
  std::vector<std::vector<std::string>> offeredLists;
  std::vector<ShownMessage> shown;
  std::vector<std::string> pickedFrom;             // start folders of the pickers
  std::vector<std::string> stepLabels;             // every label the step window showed
  bool stepWindowVisible = false;
};

class ManualEventLoop : public EventLoop {
 public:
  void processEvents() override;
  int pumps = 0;
  std::vector<std::function<void()>> onPump;  // run on every pump
};

class RecordingDesktop : public Desktop {
 public:
  bool openDocument(const std::string& path) override { documents.push_back(path); return true; }
  bool openUrl(const std::string& url) override { urls.push_back(url); return true; }
  std::vector<std::string> documents, urls;
};

}  // namespace sono
