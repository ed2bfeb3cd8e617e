// sonoteka-cli: the workstation's core without windows, for scripts, bulk jobs
// and checks. Questions are answered with their default (No, Cancel, Ok) unless
// --interactive is given. Exit status: 0 done, 1 failed, 2 bad usage.
// The commands, their options and their help are in command_table.cpp.
#include <csignal>
#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "command_table.h"
#include "core/text.h"

namespace {

using sono::cli::CommandTable;

// The options of every command of the table, with or without a value.
std::set<std::string> valuedOptions() {
  std::set<std::string> valued = {sono::cli::kHomeOption, sono::cli::kStationOption};
  for (const auto& entry : CommandTable()) valued.insert(entry.valued.begin(), entry.valued.end());
  return valued;
}

std::set<std::string> flagOptions() {
  std::set<std::string> flags;
  for (const auto& entry : CommandTable()) flags.insert(entry.flags.begin(), entry.flags.end());
  return flags;
}

}  // namespace

int main(int argc, char** argv) {
  // A file-size limit makes a write fail with EFBIG, reported like a full
  // disk, instead of killing the command halfway.
  std::signal(SIGXFSZ, SIG_IGN);
  using namespace sono::cli;
  static const std::set<std::string> kValued = valuedOptions();
  static const std::set<std::string> kFlags = flagOptions();
  Options options;
  std::vector<std::string> words;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool hasValue = false;
    if (arg.rfind("--", 0) == 0 && arg.find('=') != std::string::npos) {
      value = arg.substr(arg.find('=') + 1);
      arg = arg.substr(0, arg.find('='));
      hasValue = true;
    }
    if (kFlags.count(arg)) {
      options.values[arg.substr(2)] = "1";
      continue;
    }
    if (kValued.count(arg)) {
      if (!hasValue) {
        if (i + 1 >= argc) return Usage(arg + " demande une valeur");
        value = argv[++i];
      }
      if (arg == kHomeOption) {
        options.home = value;
        continue;
      }
      if (arg != kStationOption && arg != kKeyOption) {
        options.values[arg.substr(2)] = value;
        continue;
      }
      const auto n = sono::ParseInt(value);
      if (!n || *n < 0 || *n > 99) return Usage(arg + " demande un nombre: " + value);
      (arg == kStationOption ? options.station : options.key) = static_cast<int>(*n);
      if (arg == kStationOption) options.stationGiven = true;
    } else if (arg == kInteractiveOption) {
      options.interactive = true;
    } else if (arg == "--help" || arg == "-h") {
      std::fputs(UsageText().c_str(), stderr);
      return 0;
    } else if (arg.rfind("--", 0) == 0) {
      return Usage("option inconnue: " + arg);
    } else {
      words.push_back(arg);
    }
  }
  if (const CommandEntry* command = FindCommand(words)) return command->run(options, words);
  if (words.size() < 2) return Usage("commande manquante (voir --help)");
  if (words.size() > 2) return Usage("argument en trop: " + words[2]);
  return Usage("commande inconnue: " + words[0] + " " + words[1]);
}
