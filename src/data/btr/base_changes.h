// Changes committed by other processes and workstations to the files of a
// base, for views that must follow them (the song grid, the editor).
#pragma once
#include <string>
#include <vector>

namespace sono::btr {

struct BaseChanges {
  // The engine cannot tell which files changed (a connection that came
  // back: what was committed while it was down was not heard). Read all
  // again.
  bool everything = false;
  // The files changed, by name ("FRADA22.bt6"), each once.
  std::vector<std::string> files;
};

// What other processes and workstations committed to a base's files since
// the previous call for that base. `everything` when the engine cannot
// tell which files (a connection that came back: changes made while it was
// down were not heard). Never blocks, never costs a round trip to a server.
// Only files this process has open are reported; its own commits are not.
BaseChanges TakeBaseChanges(const std::string& folder);

}  // namespace sono::btr
