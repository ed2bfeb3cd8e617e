// sonoteka-cli import / export / purge-temp: sounds into and out of the library.
#pragma once
#include <string>
#include <vector>

#include "cli_commands.h"

namespace sono::cli {

int ConvertCommand(const Options& options, const std::vector<std::string>& words);

}  // namespace sono::cli
