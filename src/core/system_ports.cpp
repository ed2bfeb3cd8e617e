#include "core/system_ports.h"

#include "core/config.h"
#include "core/text.h"

#include <cstdlib>
#include <filesystem>
#include <ctime>
#include <iostream>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace sono {

LocalDateTime SystemClock::now() {
  timespec ts{};
  ::clock_gettime(CLOCK_REALTIME, &ts);
  if (ts.tv_sec != cachedSecond_) {
    tm local{};
    ::localtime_r(&ts.tv_sec, &local);
    cached_.year = local.tm_year + 1900;
    cached_.month = local.tm_mon + 1;
    cached_.day = local.tm_mday;
    cached_.hour = local.tm_hour;
    cached_.minute = local.tm_min;
    cached_.second = local.tm_sec;
    cachedSecond_ = ts.tv_sec;
  }
  LocalDateTime t = cached_;
  t.millisecond = static_cast<int>(ts.tv_nsec / 1000000);
  return t;
}

uint64_t SystemClock::tickMs() {
  timespec ts{};
  ::clock_gettime(CLOCK_BOOTTIME, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000 + static_cast<uint64_t>(ts.tv_nsec / 1000000);
}

void SystemClock::sleepMs(int ms) {
  if (ms <= 0) return;
  timespec ts{ms / 1000, (ms % 1000) * 1000000L};
  while (::nanosleep(&ts, &ts) != 0) {}
}

static const char* iconWord(Icon icon) {
  switch (icon) {
    case Icon::Critical: return "ERREUR";
    case Icon::Question: return "QUESTION";
    case Icon::Exclamation: return "ATTENTION";
    case Icon::Information: return "INFORMATION";
    case Icon::None: break;
  }
  return "MESSAGE";
}

std::optional<std::string> ConsolePrompt::readLine() {
  if (!interactive_ || !::isatty(STDIN_FILENO)) return std::nullopt;
  std::string line;
  if (!std::getline(std::cin, line)) return std::nullopt;
  return line;
}

Answer ConsolePrompt::message(const std::string& text, Icon icon, Buttons buttons,
                              const std::string& title) {
  std::fprintf(out_, "[%s]%s%s\n%s\n", iconWord(icon), title.empty() ? "" : " ", title.c_str(),
               text.c_str());
  Answer fallback = Answer::Ok;
  const char* choices = nullptr;
  switch (buttons) {
    case Buttons::Ok: break;
    case Buttons::OkCancel: fallback = Answer::Cancel; choices = "(O)k / (A)nnuler"; break;
    case Buttons::YesNo: fallback = Answer::No; choices = "(O)ui / (N)on"; break;
    case Buttons::YesNoCancel: fallback = Answer::Cancel; choices = "(O)ui / (N)on / (A)nnuler"; break;
    case Buttons::AbortRetryIgnore:
      fallback = Answer::Ignore;
      choices = "(A)bandonner / (R)éessayer / (I)gnorer";
      break;
  }
  if (!choices) return Answer::Ok;
  std::fprintf(out_, "%s ? ", choices);
  std::fflush(out_);
  auto line = readLine();
  if (!line) {
    std::fprintf(out_, "(pas de terminal: réponse par défaut)\n");
    return fallback;
  }
  const char c = line->empty() ? ' ' : static_cast<char>(std::toupper(static_cast<unsigned char>((*line)[0])));
  if (buttons == Buttons::AbortRetryIgnore) {
    if (c == 'A') return Answer::Abort;
    if (c == 'R') return Answer::Retry;
    return Answer::Ignore;
  }
  if (c == 'O') return buttons == Buttons::OkCancel ? Answer::Ok : Answer::Yes;
  if (c == 'N' && buttons != Buttons::OkCancel) return Answer::No;
  return fallback;
}

std::optional<std::string> ConsolePrompt::pickFolder(const std::string& start,
                                                     const std::string& title) {
  std::fprintf(out_, "%s\nDossier [%s] : ", title.empty() ? "Choisir un dossier" : title.c_str(),
               start.c_str());
  std::fflush(out_);
  auto line = readLine();
  if (!line || line->empty()) return std::nullopt;
  return line;
}

std::optional<std::string> ConsolePrompt::pickFile(const std::string& folder,
                                                   const std::string&,
                                                   const std::string& proposedName) {
  std::fprintf(out_, "Fichier [%s%s] : ", folder.c_str(), proposedName.c_str());
  std::fflush(out_);
  auto line = readLine();
  if (!line) return std::nullopt;
  if (line->empty()) return folder + proposedName;
  return line;
}

std::optional<int> ConsolePrompt::chooseItem(const std::string& title,
                                             const std::vector<std::string>& items, int current) {
  std::fprintf(out_, "%s\n", title.c_str());
  for (size_t i = 0; i < items.size(); ++i)
    std::fprintf(out_, "  %zu. %s%s\n", i + 1, items[i].c_str(),
                 static_cast<int>(i) == current ? " *" : "");
  std::fprintf(out_, "Choix [%d] : ", current + 1);
  std::fflush(out_);
  auto line = readLine();
  if (!line || line->empty()) return current;
  const int n = std::atoi(line->c_str());
  if (n < 1 || n > static_cast<int>(items.size())) return std::nullopt;
  return n - 1;
}

// A relative program folder is taken against the current folder once, here,
// before anything is created: every path built from it (and written into the
// site's files or the log) then stays right whatever the current folder.
static std::string absoluteFolder(const std::string& folder) {
  std::error_code ec;
  const std::filesystem::path absolute = std::filesystem::absolute(folder, ec);
  return CheckRep(ec ? folder : absolute.lexically_normal().string());
}

std::string DefaultHome() {
  if (const char* h = std::getenv("SONOTEKA_HOME"); h && *h) return absoluteFolder(h);
  const char* user = std::getenv("HOME");
  return absoluteFolder(std::string(user && *user ? user : "/tmp") + "/.local/share/sonoteka");
}

ConfigEnvironment MachineEnvironment(const std::string& home) {
  ConfigEnvironment env;
  env.programFolder = home.empty() ? DefaultHome() : absoluteFolder(home);
  char host[256] = {};
  if (::gethostname(host, sizeof host - 1) == 0) env.computerName = host;
  env.version = SONOTEKA_VERSION;
  char exe[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  if (n > 0) env.exePath.assign(exe, static_cast<size_t>(n));
  const ProgramInstallation installation = FindProgramInstallation();
  env.installFolder = installation.dataFolder;
  env.installGuide = installation.guide;
  return env;
}

ProgramInstallation FindProgramInstallation() {
  char exe[4096] = {};
  const ssize_t n = ::readlink("/proc/self/exe", exe, sizeof exe - 1);
  const std::string program = n > 0 ? std::string(exe, static_cast<size_t>(n)) : std::string();
  if (program.rfind(SONOTEKA_BUILD_TREE, 0) == 0 || program.empty())
    return {SONOTEKA_BUILD_SHARE, SONOTEKA_SOURCE_GUIDE};
  // <prefix>/bin/sonoteka -> <prefix>/share/sonoteka/
  std::string prefix = program.substr(0, program.find_last_of('/'));
  prefix = prefix.substr(0, prefix.find_last_of('/') + 1);
  return {prefix + SONOTEKA_SHARE_SUBDIR, prefix + SONOTEKA_DOC_SUBDIR + "INSTALLATION.md"};
}

bool StartDetached(const std::vector<std::string>& argv) {
  if (argv.empty()) return false;
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  if (::posix_spawnp(&pid, args[0], nullptr, nullptr, args.data(), environ) != 0) return false;
  // Collect it when it already ended (xdg-open hands over and leaves at once).
  int status = 0;
  ::waitpid(pid, &status, WNOHANG);
  return true;
}

bool SystemDesktop::openDocument(const std::string& path) {
  const char* visual = std::getenv("VISUAL");
  if (visual && *visual) return StartDetached({visual, path});
  return StartDetached({"xdg-open", path});
}

bool SystemDesktop::openUrl(const std::string& url) { return StartDetached({"xdg-open", url}); }

}  // namespace sono
