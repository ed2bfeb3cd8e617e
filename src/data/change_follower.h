// Following what other workstations commit: the desktop's timer calls
// `ChangeFollower::tick` a few times a second; the follower takes the base's
// changes (btr::TakeBaseChanges, no round trip to a server) and says what
// the window must show again.
//
// Decisions:
//   - The engines name the files that changed, not the records: when the
//     station's song file changed (or the engine cannot tell what changed,
//     after a connection came back), every row of the song grid is to be
//     read again. The rows on screen are read at once, the others when they
//     come on screen (the next tick after a scroll), so a change costs a
//     screenful of reads however long the grid is. A row read again stays
//     in its place: the selection and the scroll position do not move.
//   - A song that is no longer there keeps its row as it was; songs added
//     elsewhere show at the next search, and a row read again stays even
//     when it no longer matches the search or the filters.
//   - The editor's song is said to be changed when the song file changed;
//     the form reads it again when it holds no edit, else it keeps the
//     user's edits and its save asks before writing over the other
//     workstation's change (songs.h).
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "data/library.h"
#include "data/search.h"

namespace sono::data {

struct FollowUp {
  std::vector<size_t> rowsRead;  // grid rows read again (each may show a change)
  bool songFileChanged = false;  // the station's songs changed elsewhere (the editor's song may have)
  bool everything = false;       // the engine could not tell what changed: all was marked to read again
};

class ChangeFollower {
 public:
  explicit ChangeFollower(Library& lib) : lib_(lib) {}
  // One tick: `first` to `last` (inclusive) are the grid rows on screen
  // (none when first > last). Reads again the rows on screen that are due.
  FollowUp tick(SongSearch& search, int station, TitleOption titles, size_t first, size_t last);
  // Rows still to read again when they come on screen.
  size_t rowsDue() const;

 private:
  Library& lib_;
  std::vector<bool> due_;
  uint64_t generation_ = 0;  // the grid's generation after our last reads
};

}  // namespace sono::data
