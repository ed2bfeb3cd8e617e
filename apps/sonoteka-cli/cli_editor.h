// Envelope commands of sonoteka-cli: gpx build FILE, gpx show FILE [--from I]
// [--count K], gpx png FILE OUT.png [--width W] [--height H].
#pragma once
#include <string>
#include <vector>

#include "cli_commands.h"

namespace sono::cli {

int EditorCommand(const Options& options, const std::vector<std::string>& words);

}  // namespace sono::cli
