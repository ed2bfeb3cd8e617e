// notify send / pending / run, setup show / set, and the notification that
// every command changing a song queues.
#pragma once
#include <string>
#include <vector>

#include "cli_commands.h"

namespace sono::cli {

class Session;
struct LibrarySession;
}  // namespace sono::cli
namespace sono::data {
class Library;
}
namespace sono::cli {

int NotifyCommand(const Options& options, const std::vector<std::string>& words);
int SetupCommand(const Options& options, const std::vector<std::string>& words);

// Queues the change notification of `code` in the workstation's pending
// queue (the desktop's timer or `notify run` sends it): with the version
// records refreshed when `refreshVersions` (a new sound), not for stored
// pointers. Prints what was queued; false when the version records could not
// be refreshed.
bool QueueSongChange(Session& session, data::Library& lib, const std::string& code, bool refreshVersions,
                     const std::string& caller);
bool QueueSongChange(LibrarySession& session, const std::string& code, bool refreshVersions,
                     const std::string& caller);

}  // namespace sono::cli
