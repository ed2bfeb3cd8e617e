// The ports through which the core talks to the outside: message boxes and the
// step window, the event loop, clocks, timers and the desktop. The desktop
// program binds them to Qt, the command line to the console, tests to the
// scripted and manual versions of manual_ports.h.
#pragma once
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "core/datetime.h"

namespace sono {

enum class Icon { None, Critical, Question, Exclamation, Information };
enum class Buttons { Ok, OkCancel, YesNo, YesNoCancel, AbortRetryIgnore };
enum class Answer { Ok, Cancel, Yes, No, Abort, Retry, Ignore };

class Prompt {
 public:
  virtual ~Prompt() = default;
  // A message box; returns the button chosen.
  virtual Answer message(const std::string& text, Icon icon, Buttons buttons,
                         const std::string& title = {}) = 0;
  // Folder picker opened on `start`; nothing when the user gives up.
  virtual std::optional<std::string> pickFolder(const std::string& start,
                                                const std::string& title = {}) = 0;
  // Open-file dialog on `folder` with a filter such as "Logs|*.log".
  virtual std::optional<std::string> pickFile(const std::string& folder, const std::string& filter,
                                              const std::string& proposedName) = 0;
  // Save-file dialog on `folder` proposing `proposedName`; replacing an
  // existing file is the caller's question. Scripted and console prompts
  // answer it like the open-file dialog.
  virtual std::optional<std::string> pickSaveFile(const std::string& folder, const std::string& filter,
                                                  const std::string& proposedName) {
    return pickFile(folder, filter, proposedName);
  }
  // A choice in a list (the base-selection window); nothing when the user gives up.
  virtual std::optional<int> chooseItem(const std::string& title,
                                        const std::vector<std::string>& items, int current) = 0;
  // The small step window that tells which start-up or closing step runs.
  virtual void showStepWindow(bool show) = 0;
  virtual void setStepLabel(const std::string& text) = 0;
};

class EventLoop {
 public:
  virtual ~EventLoop() = default;
  // Lets pending window events, timers and socket messages run once.
  virtual void processEvents() = 0;
};

class Clock {
 public:
  virtual ~Clock() = default;
  virtual LocalDateTime now() = 0;         // local wall time
  virtual uint64_t tickMs() = 0;           // milliseconds since the machine started
  virtual void sleepMs(int ms) = 0;        // a manual clock advances instead of waiting
};

// Named timers with an interval and an enabled flag.
class Scheduler {
 public:
  virtual ~Scheduler() = default;
  virtual void add(const std::string& name, int intervalMs, bool enabled,
                   std::function<void()> work) = 0;
  virtual void setInterval(const std::string& name, int intervalMs) = 0;
  virtual void setEnabled(const std::string& name, bool enabled) = 0;
  virtual bool isEnabled(const std::string& name) const = 0;
  virtual int interval(const std::string& name) const = 0;
};

// Opening documents and addresses with the desktop's programs.
class Desktop {
 public:
  virtual ~Desktop() = default;
  virtual bool openDocument(const std::string& path) = 0;  // text viewer
  virtual bool openUrl(const std::string& url) = 0;
};

}  // namespace sono
