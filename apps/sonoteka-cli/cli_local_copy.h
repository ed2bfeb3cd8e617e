// The local-copy actions of `edit`'s script: "local take", "local give
// [keep] [force]", "local compare" and "local options [KEY 0|1]".
#pragma once
#include <optional>
#include <string>
#include <vector>

#include "editor/local_copies.h"

namespace sono {
class SiteConfig;
}

namespace sono::cli {

// How the command line answers the task dialogs of local copies: it prints
// them and answers `answer` (nothing: the dialog closed).
struct ConsoleTaskDialog {
  std::optional<int> answer;
  std::optional<int> operator()(const editor::TaskDialog& d) const;
};

// Runs one "local ..." action; nothing when done, else the command's exit status.
std::optional<int> LocalCopyAction(editor::LocalCopies& copies, ConsoleTaskDialog& dialog, const SiteConfig& config,
                                   const std::vector<std::string>& words);

}  // namespace sono::cli
