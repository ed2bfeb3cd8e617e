// The ports bound to the real machine, for the command line: system clocks,
// message boxes on the console, an event loop that runs registered pollers,
// and the desktop's programs started with an argument vector.
#pragma once
#include <cstdio>
#include <vector>

#include "core/ports.h"

namespace sono {

class SystemClock : public Clock {
 public:
  LocalDateTime now() override;  // the broken-down time is reused within one second
  uint64_t tickMs() override;  // CLOCK_BOOTTIME: the machine's uptime
  void sleepMs(int ms) override;

 private:
  long long cachedSecond_ = -1;
  LocalDateTime cached_;
};

// Message boxes on the terminal. Unless it is interactive and standard input
// is a terminal, the box is printed and the default answer taken (No, Cancel
// or Ok), so scripts never hang on a question.
class ConsolePrompt : public Prompt {
 public:
  explicit ConsolePrompt(bool interactive = false, FILE* out = stderr)
      : interactive_(interactive), out_(out) {}
  Answer message(const std::string& text, Icon icon, Buttons buttons,
                 const std::string& title = {}) override;
  std::optional<std::string> pickFolder(const std::string& start,
                                        const std::string& title = {}) override;
  std::optional<std::string> pickFile(const std::string& folder, const std::string& filter,
                                      const std::string& proposedName) override;
  std::optional<int> chooseItem(const std::string& title, const std::vector<std::string>& items,
                                int current) override;
  void showStepWindow(bool) override {}
  void setStepLabel(const std::string&) override {}

 private:
  std::optional<std::string> readLine();
  bool interactive_;
  FILE* out_;
};

class PollingEventLoop : public EventLoop {
 public:
  void processEvents() override {
    for (auto& p : pollers) p();
  }
  std::vector<std::function<void()>> pollers;
};

// Opens documents in $VISUAL (when set) or with xdg-open; never through a shell.
class SystemDesktop : public Desktop {
 public:
  bool openDocument(const std::string& path) override;
  bool openUrl(const std::string& url) override;
};

struct ConfigEnvironment;
// The program folder ($SONOTEKA_HOME, or ~/.local/share/sonoteka/ when unset,
// unless `home` is given; a relative one is made absolute against the current
// folder), this computer's name, the version and the program file.
ConfigEnvironment MachineEnvironment(const std::string& home = {});
std::string DefaultHome();

// Where the program's own installation lies: run from the build tree, the
// build tree's "share/sonoteka/" and the source's guide; installed, the
// "share/sonoteka/" and "share/doc/" folders beside its "bin/".
struct ProgramInstallation {
  std::string dataFolder;  // with trailing "/"
  std::string guide;       // the installation guide (INSTALLATION.md)
};
ProgramInstallation FindProgramInstallation();

// Starts a program with an argument vector, without waiting for it.
bool StartDetached(const std::vector<std::string>& argv);

}  // namespace sono
