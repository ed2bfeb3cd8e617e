// Audio commands of sonoteka-cli: devices, info FILE, encode IN OUT.s48,
// play FILE [--start MS] [--end MS] [--fade-in MS] [--fade-out MS]
// [--level DB] [--device NAME] [--player] [--tempo PERCENT] (--player plays
// through the player control; a tempo, pitch kept, implies it).
#pragma once
#include <string>
#include <vector>

#include "cli_commands.h"

namespace sono::cli {

int AudioCommand(const Options& options, const std::vector<std::string>& words);

}  // namespace sono::cli
