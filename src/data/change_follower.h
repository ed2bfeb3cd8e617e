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
//   - Then the grid's search runs again (GridFollower), without the step
//     window, and its result is merged into the grid (SongGrid::mergeRows):
//     a song added elsewhere appears in its sorted place (after the song it
//     follows in the grid's sort, or title order), a song deleted elsewhere
//     loses its row, a song changed so that it no longer matches the search
//     or the filters goes. A song still listed keeps its place even when
//     its change would sort it elsewhere (the next search sorts it): the
//     rows the user is looking at do not jump. The selected song stays
//     selected and the song at the top of the grid stays at the top while
//     they are still listed.
//   - The selected song deleted elsewhere: its row goes and no row is
//     selected (no other song is loaded behind the user's back); the status
//     bar says that it left the list. The form, read again, empties unless
//     it holds edits (they stay); the cue-point editor keeps its sound.
//   - The search runs on the window's thread and lets the window's events
//     run every 256 songs, as a search asked for does. At most one runs; a
//     change heard while it runs means one more after it. A search during
//     which the window's events used the database (a search asked for, a
//     save) read from positions another call moved: it is given up at its
//     next read and run again.
//   - The search run again reads only: it repairs no duration and makes no
//     companion record (the next search asked for does; the workstation
//     adding a song may be writing them), shows no step window and asks
//     nothing (what it would ask is logged).
//   - The cue-point editor reads its song's pointers again when the song or
//     the pointer file changed, unless pointers wait there to be stored;
//     their store asks before writing over the other change (ptx.h).
//   - The editor's song is said to be changed when the song file changed;
//     the form reads it again when it holds no edit, else it keeps the
//     user's edits and its save asks before writing over the other
//     workstation's change (songs.h).
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "data/library.h"
#include "data/search.h"
#include "data/stats.h"

namespace sono::data {

struct FollowUp {
  std::vector<size_t> rowsRead;  // grid rows read again (each may show a change)
  bool songFileChanged = false;  // the station's songs changed elsewhere (the editor's song may have)
  bool pointerFileChanged = false;  // the station's pointers changed elsewhere (the editor's may have)
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

// The grid's search run again when another workstation changed the songs.
class GridFollower {
 public:
  GridFollower(Library& lib, DurationStatistics& stats);
  ~GridFollower();
  GridFollower(const GridFollower&) = delete;
  GridFollower& operator=(const GridFollower&) = delete;
  // The station's songs changed elsewhere: a search is due (one more when
  // one runs now).
  void songsChanged() { due_ = true; }
  bool due() const { return due_; }
  bool running() const { return running_; }
  // When a search is due and none runs: runs `request` with `filters`,
  // sorted as `shown` is, and puts its rows in `shown`. True when `shown`
  // took them; false when nothing was due, or the search was given up (it
  // is due again).
  bool follow(const SearchRequest& request, const SearchFilters& filters, SongGrid& shown);
  // Searches given up since the start (the window used the database meanwhile).
  size_t givenUp() const { return givenUp_; }

 private:
  class QuietPrompt;
  class WatchedEvents;
  Library& lib_;
  std::unique_ptr<QuietPrompt> prompt_;
  std::unique_ptr<WatchedEvents> events_;
  std::unique_ptr<Library> quietLib_;  // the library's database, without questions or step window
  std::unique_ptr<SongSearch> search_;
  bool due_ = false;
  bool running_ = false;
  size_t givenUp_ = 0;
};

}  // namespace sono::data
