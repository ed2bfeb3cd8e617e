// Level commands of sonoteka-cli: loudness CODE|FILE [--measure] (the stored
// level measurements, measured first when missing or stale) and normalise
// CODE [--apply | --apply-target] (the editor's proposals, written into the
// song's level pointer on request).
#pragma once
#include <string>
#include <vector>

#include "cli_commands.h"

namespace sono::cli {

int LevelsCommand(const Options& options, const std::vector<std::string>& words);

}  // namespace sono::cli
