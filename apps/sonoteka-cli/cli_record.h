// sonoteka-cli record: a take recorded from a capture input and handed to the song.
#pragma once
#include <string>
#include <vector>

#include "cli_commands.h"

namespace sono::cli {

// The take through the boards' record pipe (--board).
int RecordOnBoard(const Options& options, const std::string& code, double speed);
int RecordCommand(const Options& options, const std::vector<std::string>& words);

}  // namespace sono::cli
