// The commands of sonoteka-cli in one table: each with its name, the options
// it reads, its lines of the usage text and its handler. The command line is
// read against it (main.cpp): the options of every command are known
// wherever they are typed, the usage text lists the commands in table order.
#pragma once
#include <string>
#include <vector>

#include "cli_commands.h"

namespace sono::cli {

// How a command's name matches the words typed.
enum class CommandMatch {
  TwoWords,       // "site show": the first two words; the rest are its arguments
  FirstWord,      // "search": the first word; the command reads the words after it
  FirstWordOfTwo  // "song": the first word with at least one word after it
};

struct CommandEntry {
  const char* name;
  CommandMatch match;
  std::vector<const char*> valued;  // options read with a value ("--songs")
  std::vector<const char*> flags;   // options without a value ("--append")
  const char* help;                 // its lines of the usage text
  // Given every word typed (the name's words first); returns the exit status.
  int (*run)(const Options& options, const std::vector<std::string>& words);
};

// Read by every command: the site's folder, the station.
inline constexpr const char* kHomeOption = "--home";
inline constexpr const char* kStationOption = "--station";
inline constexpr const char* kKeyOption = "--key";
inline constexpr const char* kInteractiveOption = "--interactive";

const std::vector<CommandEntry>& CommandTable();
// The entry the words name; null when none does.
const CommandEntry* FindCommand(const std::vector<std::string>& words);
// "usage: …" and every entry's help, as --help prints it.
std::string UsageText();

}  // namespace sono::cli
