// Smooth joins: where an edit puts two frames side by side that were not
// neighbours (either side of a cut, the edges of a pasted extract), the
// decoder's filter bank carries the end of one into the start of the other
// and the join can click. Smoothing decodes the few frames around each join,
// cross-fades the two sides over 10 ms, and encodes only those frames again
// with the house encoder (levels in the last bytes, as every house frame);
// every other frame of the file stays byte for byte as the edit copied it.
//
// How a join is smoothed:
// - the window is 2 frames (48 ms) either side of the join; a piece shorter
//   than that between two joins is shared between them, and a join with less
//   than one frame on a side stays as it is;
// - the cross-fade (raised cosine, 480 samples) is centred on the join when
//   both files hold audio on the other side of the join (a cut: the frames
//   cut out); it lies before the join when only the right side began earlier
//   (after a pasted extract); when the right side starts on its file's first
//   frame (an extract, whose decoder has nothing of what came before for its
//   first 480 samples) the left side goes on over those 480 samples and the
//   cross-fade follows them, and when the left side does not go on either
//   (an extract pasted at the end, or at the beginning of the sound) the left
//   side fades out over 5 ms, 10 ms of silence hide the right side's first
//   samples, and the right side fades in over 5 ms;
// - the new frames are encoded from the smoothed audio taken 481 samples
//   ahead, the encoder and decoder delay together, so that they decode in
//   step with the untouched frames around them; the encoder and the decoder
//   start two frames early so that their filter banks hold what came before.
#pragma once
#include <string>
#include <vector>

#include "editor/frame_edit.h"

namespace sono::editor {

struct SmoothJoinsResult {
  int joins = 0;     // places where frames that were not neighbours meet
  int smoothed = 0;  // of which encoded again
  // The frames encoded again (numbered from 1 in the target), in order.
  std::vector<FrameSpan> windows;
  // Joins left hard because their frames do not decode or encode (a damaged
  // frame near them): "frame N: why", N the last frame before the join.
  std::vector<std::string> leftHard;
  std::string error;  // why the target could not be read or written (French); empty when done
};

// Smooths every join of `target`, which holds `pieces` one after the other
// (as WriteFramePieces wrote them), in place, and flushes it. A join whose
// frames cannot be decoded stays as the edit made it. On an error (a file
// that cannot be read or written) the target may be partly smoothed: the
// caller drops it.
SmoothJoinsResult SmoothJoins(const std::string& target, const std::vector<FramePiece>& pieces);

}  // namespace sono::editor
