// Level commands of sonoteka-cli: loudness CODE|FILE [--measure] (the stored
// level measurements, measured first when missing or stale).
#pragma once
#include <string>
#include <vector>

#include "cli_commands.h"

namespace sono::cli {

int LevelsCommand(const Options& options, const std::vector<std::string>& words);

}  // namespace sono::cli
