// Sound edits on house-format frames, without decoding: a house file is a
// run of 768-byte frames of 24 ms, numbered from 1 (frame n is bytes
// 768 × (n − 1) to 768 × n − 1), and every edit is a list of frame runs of
// one file or another copied into a new file. Also how a time (a pointer)
// moves when frames are taken out or put in.
#pragma once
#include <functional>
#include <string>
#include <vector>

namespace sono::editor {

// A run of frames [first, last], numbered from 1; empty when last < first.
struct FrameSpan {
  long long first = 1, last = 0;
  bool empty() const { return last < first; }
  long long count() const { return empty() ? 0 : last - first + 1; }
  long long startMs() const;  // where its first frame starts
  long long endMs() const;    // where its last frame ends
};

// round(ms / 24), halves to even, at least 1: the frame a selection time names.
long long FrameOfMs(long long ms);
// The frames a selection [startMs, endMs] covers in a sound of `frameCount`
// frames (its end held to the last frame); empty when it covers none.
FrameSpan SelectionFrames(long long startMs, long long endMs, long long frameCount);

// The number of frames of a house file; -1 when it is missing, unreadable,
// empty or not whole frames.
long long HouseFrameCount(const std::string& file);

// A run of frames of one file, a piece of a new sound.
struct FramePiece {
  std::string file;
  FrameSpan frames;
};

// The frames of a `frameCount`-frame `file` outside the `cuts` (any order,
// overlapping allowed), in order.
std::vector<FramePiece> KeptPieces(const std::string& file, long long frameCount, std::vector<FrameSpan> cuts);

// Writes the pieces one after the other into `target` (created or emptied)
// and flushes it to disk. `progress(done, total)` is told after each block of
// frames. "" when done; otherwise why not (French) and `target` is removed.
std::string WriteFramePieces(const std::string& target, const std::vector<FramePiece>& pieces,
                             const std::function<void(long long done, long long total)>& progress = {});

// Where a time of the sound lands when the frames of `cut` are taken out: a
// time after the cut moves back by its length, a time inside it goes to its start.
long long TimeAfterCut(long long ms, const FrameSpan& cut);
// Where a time lands when `lengthMs` are put in at `atMs`: from `atMs` on, it
// moves on by that length.
long long TimeAfterInsert(long long ms, long long atMs, long long lengthMs);

}  // namespace sono::editor
